// Another program on the same X server as the window under test, speaking XDND as a file
// manager does: it offers files as text/uri-list, moves the pointer over the target with XTest,
// sends XdndEnter, XdndPosition and XdndDrop, serves the data the target asks for, and waits for
// XdndFinished. It also grabs parts of the screen.
//
// Commands on standard input, one per line; each answers one line on standard output:
//   window TITLE          -> "X Y W H" of the mapped top-level window with that title
//   drag X Y URL...       -> "copy", "move", "link", "refused" or "timeout": how the window
//                            under the point took the drop, as its XdndFinished says; then
//                            the number of times the target asked for the files
//   grab X Y W H FILE     -> "ok" once the screen rectangle is saved as FILE (binary PPM)
//   click X Y             -> "ok" once the left button is pressed and released at the point
//   close X Y             -> "ok" once the top-level window at the point is asked to close,
//                            as a window manager's close button asks it; "none" if none is there
//   move X Y TOX TOY      -> "ok" once the top-level window at the point is moved to TOX TOY
//   ping X Y              -> the milliseconds the top-level window at the point took to answer
//                            _NET_WM_PING, as a window manager asks whether it is alive;
//                            "none" or "timeout"
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <poll.h>

namespace {

using Clock = std::chrono::steady_clock;

// Long enough for a batch of hundreds of files to end; an answer that takes longer is lost.
const auto AnswerTimeout = std::chrono::seconds(60);

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

class Peer {
public:
    explicit Peer(Display* display)
        : X(display), Root(DefaultRootWindow(display)),
          Source(XCreateSimpleWindow(display, Root, 0, 0, 1, 1, 0, 0, 0)) {
        // A ping's answer is sent to the root window for its structure events.
        XSelectInput(X, Root, SubstructureNotifyMask | StructureNotifyMask);
    }

    std::string Window(const std::string& title);
    std::string Drag(int x, int y, const std::vector<std::string>& urls);
    std::string Grab(int x, int y, int width, int height, const std::string& file);
    std::string Click(int x, int y);
    std::string Close(int x, int y);
    std::string Ping(int x, int y);
    std::string Move(int x, int y, int toX, int toY);

private:
    Atom A(const char* name) { return XInternAtom(X, name, False); }
    ::Window TopLevelAt(int x, int y);
    ::Window XdndTarget(int x, int y);
    void Send(::Window target, const char* type, long l0, long l1, long l2, long l3, long l4);
    // Waits for the next client message of type, serving the data meanwhile; false when none
    // came within AnswerTimeout.
    bool Await(const char* type, XClientMessageEvent& message);
    void Serve(const XSelectionRequestEvent& request);

    Display* X;
    ::Window Root;
    ::Window Source;
    std::string UriList;
    int Requests = 0;
};

std::string WindowName(Display* display, ::Window window) {
    XTextProperty property;
    if (!XGetWMName(display, window, &property) || !property.value)
        return {};
    std::string name(reinterpret_cast<const char*>(property.value), property.nitems);
    XFree(property.value);
    return name;
}

// Waits by the server's map events, not by polling, until the window is there.
std::string Peer::Window(const std::string& title) {
    for (;;) {
        ::Window unusedRoot, unusedParent, *children = nullptr;
        unsigned count = 0;
        XQueryTree(X, Root, &unusedRoot, &unusedParent, &children, &count);
        for (unsigned i = 0; i < count; ++i) {
            XWindowAttributes at;
            if (XGetWindowAttributes(X, children[i], &at) && at.map_state == IsViewable &&
                WindowName(X, children[i]) == title) {
                XFree(children);
                std::ostringstream out;
                out << at.x << ' ' << at.y << ' ' << at.width << ' ' << at.height;
                return out.str();
            }
        }
        XFree(children);
        XEvent event;
        XNextEvent(X, &event);
    }
}

::Window Peer::TopLevelAt(int x, int y) {
    ::Window child = None;
    int unusedX, unusedY;
    XTranslateCoordinates(X, Root, Root, x, y, &unusedX, &unusedY, &child);
    return child;
}

// The top-level window under the point that takes drops.
::Window Peer::XdndTarget(int x, int y) {
    const ::Window child = TopLevelAt(x, y);
    Atom type;
    int format;
    unsigned long items, after;
    unsigned char* data = nullptr;
    if (child == None ||
        XGetWindowProperty(X, child, A("XdndAware"), 0, 1, False, XA_ATOM, &type, &format, &items,
                           &after, &data) != Success ||
        items == 0) {
        if (data)
            XFree(data);
        return None;
    }
    XFree(data);
    return child;
}

void Peer::Send(::Window target, const char* type, long l0, long l1, long l2, long l3, long l4) {
    XClientMessageEvent message{};
    message.type = ClientMessage;
    message.display = X;
    message.window = target;
    message.message_type = A(type);
    message.format = 32;
    message.data.l[0] = l0;
    message.data.l[1] = l1;
    message.data.l[2] = l2;
    message.data.l[3] = l3;
    message.data.l[4] = l4;
    XSendEvent(X, target, False, NoEventMask, reinterpret_cast<XEvent*>(&message));
    XFlush(X);
}

void Peer::Serve(const XSelectionRequestEvent& request) {
    XSelectionEvent notify{};
    notify.type = SelectionNotify;
    notify.display = X;
    notify.requestor = request.requestor;
    notify.selection = request.selection;
    notify.target = request.target;
    notify.time = request.time;
    notify.property = None;
    const Atom property = request.property != None ? request.property : request.target;
    if (request.target == A("text/uri-list")) {
        ++Requests;
        XChangeProperty(X, request.requestor, property, request.target, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(UriList.data()),
                        static_cast<int>(UriList.size()));
        notify.property = property;
    } else if (request.target == A("TARGETS")) {
        const Atom targets[] = {A("TARGETS"), A("text/uri-list")};
        XChangeProperty(X, request.requestor, property, XA_ATOM, 32, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(targets), 2);
        notify.property = property;
    }
    XSendEvent(X, request.requestor, False, NoEventMask, reinterpret_cast<XEvent*>(&notify));
    XFlush(X);
}

bool Peer::Await(const char* type, XClientMessageEvent& message) {
    const auto deadline = Clock::now() + AnswerTimeout;
    for (;;) {
        while (XPending(X)) {
            XEvent event;
            XNextEvent(X, &event);
            if (event.type == SelectionRequest)
                Serve(event.xselectionrequest);
            else if (event.type == ClientMessage && event.xclient.message_type == A(type)) {
                message = event.xclient;
                return true;
            }
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0)
            return false;
        pollfd connection{ConnectionNumber(X), POLLIN, 0};
        poll(&connection, 1, static_cast<int>(left.count()));
    }
}

std::string Peer::Drag(int x, int y, const std::vector<std::string>& urls) {
    UriList.clear();
    Requests = 0;
    for (const std::string& url : urls)
        UriList += url + "\r\n";
    XSetSelectionOwner(X, A("XdndSelection"), Source, CurrentTime);
    XTestFakeMotionEvent(X, -1, x, y, CurrentTime);
    XSync(X, False);
    const ::Window target = XdndTarget(x, y);
    if (target == None)
        return "refused";

    const long version = 5;
    Send(target, "XdndEnter", Source, version << 24, A("text/uri-list"), None, None);
    Send(target, "XdndPosition", Source, 0, (long(x) << 16) | y, CurrentTime, A("XdndActionCopy"));
    XClientMessageEvent status;
    if (!Await("XdndStatus", status))
        return "timeout";
    if (!(status.data.l[1] & 1)) {
        Send(target, "XdndLeave", Source, 0, 0, 0, 0);
        return "refused";
    }
    Send(target, "XdndDrop", Source, 0, CurrentTime, 0, 0);
    XClientMessageEvent finished;
    if (!Await("XdndFinished", finished))
        return "timeout";
    const Atom action = finished.data.l[2];
    const char* taken = !(finished.data.l[1] & 1)       ? "refused"
                        : action == A("XdndActionCopy") ? "copy"
                        : action == A("XdndActionMove") ? "move"
                        : action == A("XdndActionLink") ? "link"
                                                        : "refused";
    std::string answer = taken;
    answer += ' ';
    answer += std::to_string(Requests);
    return answer;
}

// A binary PPM: the simplest image format Qt reads back.
std::string Peer::Grab(int x, int y, int width, int height, const std::string& file) {
    XImage* image = XGetImage(X, Root, x, y, width, height, AllPlanes, ZPixmap);
    if (!image)
        return "failed";
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(file.c_str(), "wb"), std::fclose);
    bool written = out != nullptr;
    if (written) {
        std::fprintf(out.get(), "P6\n%d %d\n255\n", width, height);
        for (int row = 0; row < height; ++row)
            for (int column = 0; column < width; ++column) {
                const unsigned long pixel = XGetPixel(image, column, row);
                const unsigned char rgb[] = {static_cast<unsigned char>(pixel >> 16),
                                             static_cast<unsigned char>(pixel >> 8),
                                             static_cast<unsigned char>(pixel)};
                written = written && std::fwrite(rgb, 1, 3, out.get()) == 3;
            }
    }
    XDestroyImage(image);
    return written ? "ok" : "failed";
}

std::string Peer::Click(int x, int y) {
    XTestFakeMotionEvent(X, -1, x, y, CurrentTime);
    XTestFakeButtonEvent(X, 1, True, CurrentTime);
    XTestFakeButtonEvent(X, 1, False, CurrentTime);
    XSync(X, False);
    return "ok";
}

std::string Peer::Close(int x, int y) {
    const ::Window window = TopLevelAt(x, y);
    if (window == None)
        return "none";
    Send(window, "WM_PROTOCOLS", A("WM_DELETE_WINDOW"), CurrentTime, 0, 0, 0);
    return "ok";
}

std::string Peer::Move(int x, int y, int toX, int toY) {
    const ::Window window = TopLevelAt(x, y);
    if (window == None)
        return "none";
    XMoveWindow(X, window, toX, toY);
    XSync(X, False);
    return "ok";
}

// The answer comes back to the root window, where this peer listens for its substructure.
std::string Peer::Ping(int x, int y) {
    const ::Window window = TopLevelAt(x, y);
    if (window == None)
        return "none";
    const auto start = Clock::now();
    Send(window, "WM_PROTOCOLS", A("_NET_WM_PING"), CurrentTime, window, 0, 0);
    XClientMessageEvent answer;
    if (!Await("WM_PROTOCOLS", answer) || answer.data.l[0] != static_cast<long>(A("_NET_WM_PING")))
        return "timeout";
    return std::to_string(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

} // namespace

// A window may be gone by the time a request about it arrives (wine makes and drops short-lived
// windows as it starts): that request fails, and the peer goes on, where Xlib's default would
// end it.
int IgnoreError(Display*, XErrorEvent*) {
    return 0;
}

int main() {
    XSetErrorHandler(IgnoreError);
    std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    if (!display) {
        std::cerr << "no X display\n";
        return 2;
    }
    Peer peer(display.get());
    std::string line;
    while (std::getline(std::cin, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        std::string answer = "unknown command";
        if (command == "window") {
            std::string title;
            std::getline(words >> std::ws, title);
            answer = peer.Window(title);
        } else if (command == "drag") {
            int x = 0, y = 0;
            words >> x >> y;
            std::vector<std::string> urls;
            for (std::string url; words >> url;)
                urls.push_back(url);
            answer = peer.Drag(x, y, urls);
        } else if (command == "grab") {
            int x = 0, y = 0, width = 0, height = 0;
            std::string file;
            words >> x >> y >> width >> height >> file;
            answer = peer.Grab(x, y, width, height, file);
        } else if (command == "move") {
            int x = 0, y = 0, toX = 0, toY = 0;
            words >> x >> y >> toX >> toY;
            answer = peer.Move(x, y, toX, toY);
        } else if (command == "click" || command == "close" || command == "ping") {
            int x = 0, y = 0;
            words >> x >> y;
            answer = command == "click"   ? peer.Click(x, y)
                     : command == "close" ? peer.Close(x, y)
                                          : peer.Ping(x, y);
        }
        std::cout << answer << std::endl;
    }
    return 0;
}
