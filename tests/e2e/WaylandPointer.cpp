// A pointer for a Wayland compositor that has no input devices (a headless one): a virtual
// pointer device made through the wlr virtual-pointer protocol, which wlroots compositors such
// as sway offer. It moves and presses as a mouse on the compositor's one output would.
//
// Commands on standard input, one per line; each answers "ok" once the compositor has taken it:
//   move X Y     -> the pointer to the point X Y of the output
//   press        -> the left button down
//   release      -> the left button up
#include <wayland-client.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

#include <linux/input-event-codes.h>

namespace {

// The protocol's two interfaces, as its XML describes them, for the requests used here: a
// request's opcode is its index in the table.
const wl_message PointerRequests[] = {
    {"motion", "uff", nullptr},   {"motion_absolute", "uuuuu", nullptr},
    {"button", "uuu", nullptr},   {"axis", "uuf", nullptr},
    {"frame", "", nullptr},       {"axis_source", "u", nullptr},
    {"axis_stop", "uu", nullptr}, {"axis_discrete", "uufi", nullptr},
    {"destroy", "", nullptr},
};
const wl_interface VirtualPointer = {"zwlr_virtual_pointer_v1", 1, 9, PointerRequests, 0, nullptr};
enum PointerRequest : std::uint32_t { MotionAbsolute = 1, Button = 2, Frame = 4 };

const wl_interface* CreateTypes[] = {&wl_seat_interface, &VirtualPointer};
const wl_message ManagerRequests[] = {
    {"create_virtual_pointer", "?on", CreateTypes},
    {"destroy", "", nullptr},
};
const wl_interface VirtualPointerManager = {
    "zwlr_virtual_pointer_manager_v1", 1, 2, ManagerRequests, 0, nullptr};
enum ManagerRequest : std::uint32_t { CreateVirtualPointer = 0 };

struct ProxyDestroyer {
    void operator()(void* proxy) const { wl_proxy_destroy(static_cast<wl_proxy*>(proxy)); }
};
template <typename Interface> using Owned = std::unique_ptr<Interface, ProxyDestroyer>;
struct DisplayCloser {
    void operator()(wl_display* display) const { wl_display_disconnect(display); }
};

struct Globals {
    Owned<wl_seat> Seat;
    Owned<wl_proxy> Manager;
    Owned<wl_output> Output;
    std::int32_t Width = 0, Height = 0;
};

void OnGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
              std::uint32_t) {
    auto& globals = *static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !globals.Seat)
        globals.Seat.reset(
            static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1)));
    else if (std::strcmp(interface, VirtualPointerManager.name) == 0 && !globals.Manager)
        globals.Manager.reset(
            static_cast<wl_proxy*>(wl_registry_bind(registry, name, &VirtualPointerManager, 1)));
    else if (std::strcmp(interface, wl_output_interface.name) == 0 && !globals.Output)
        globals.Output.reset(
            static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, 1)));
}
void OnGlobalRemoved(void*, wl_registry*, std::uint32_t) {}

// The output's current mode gives the extent of absolute positions.
void OnMode(void* data, wl_output*, std::uint32_t flags, std::int32_t width, std::int32_t height,
            std::int32_t) {
    auto& globals = *static_cast<Globals*>(data);
    if (flags & WL_OUTPUT_MODE_CURRENT) {
        globals.Width = width;
        globals.Height = height;
    }
}
void OnGeometry(void*, wl_output*, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                std::int32_t, const char*, const char*, std::int32_t) {}

std::uint32_t Now() {
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

} // namespace

int main() {
    const std::unique_ptr<wl_display, DisplayCloser> connection(wl_display_connect(nullptr));
    wl_display* display = connection.get();
    if (!display) {
        std::fprintf(stderr, "waylandpointer: no Wayland display\n");
        return 1;
    }
    Globals globals;
    const wl_registry_listener registryListener{OnGlobal, OnGlobalRemoved};
    const Owned<wl_registry> registry(wl_display_get_registry(display));
    wl_registry_add_listener(registry.get(), &registryListener, &globals);
    wl_display_roundtrip(display);
    if (!globals.Seat || !globals.Manager || !globals.Output) {
        std::fprintf(stderr, "waylandpointer: no seat, output or virtual pointer manager\n");
        return 1;
    }
    wl_output_listener outputListener{};
    outputListener.geometry = OnGeometry;
    outputListener.mode = OnMode;
    wl_output_add_listener(globals.Output.get(), &outputListener, &globals);
    const Owned<wl_proxy> pointer(wl_proxy_marshal_flags(globals.Manager.get(),
                                                         CreateVirtualPointer, &VirtualPointer, 1,
                                                         0, globals.Seat.get(), nullptr));
    wl_display_roundtrip(display);

    for (std::string line; std::getline(std::cin, line);) {
        std::istringstream words(line);
        std::string command;
        std::uint32_t x = 0, y = 0;
        words >> command >> x >> y;
        if (command == "move")
            wl_proxy_marshal_flags(pointer.get(), MotionAbsolute, nullptr, 1, 0, Now(), x, y,
                                   globals.Width, globals.Height);
        else if (command == "press" || command == "release")
            wl_proxy_marshal_flags(pointer.get(), Button, nullptr, 1, 0, Now(), BTN_LEFT,
                                   command == "press" ? WL_POINTER_BUTTON_STATE_PRESSED
                                                      : WL_POINTER_BUTTON_STATE_RELEASED);
        wl_proxy_marshal_flags(pointer.get(), Frame, nullptr, 1, 0);
        std::cout << (wl_display_roundtrip(display) >= 0 ? "ok" : "lost") << std::endl;
    }
    return 0;
}
