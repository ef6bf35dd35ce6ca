// One drop's files converted on a thread of their own, one after the other in drop order,
// through the window's wave component, so that the window's thread serves its event loop all
// the while: it answers the desktop, paints, and takes further drops. Each file's row comes
// back to the window's thread by a signal, emitted there; how far the file in hand has come is
// data the batch publishes, which the window reads when it paints.
#pragma once

#include "ConversionSettings.h"
#include "ConvertFile.h"
#include "WorkMonitor.h"

#include <QObject>

#include <atomic>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class TRvWave;

class TConversionBatch : public QObject {
    Q_OBJECT

public:
    // The wave is the batch's alone until Finished: its state goes on from file to file, and
    // from this batch to the next.
    TConversionBatch(std::vector<std::string> paths, ConversionSettings settings,
                     std::string wavesParent, TRvWave& wave, QObject* parent = nullptr);
    // Stops the batch as Abort does and waits for its thread.
    ~TConversionBatch() override;

    void Start();
    // Asks the batch to stop: the file in hand is given up within a step of its work, with
    // nothing written and no row, and Finished follows.
    void Abort();
    // Waits until the batch's thread has ended; Finished still comes through the event loop.
    void Wait();

    int Count() const { return static_cast<int>(Paths.size()); }
    // How much of file number index (from 0) is done, from 0 to 1, as far as its bytes read,
    // converted and written tell; 0 for a file not yet begun or already done. It may go back
    // a little when a stage turns out longer than expected.
    double FileShare(int index) const;

signals:
    // The row of each file, in drop order.
    void RowReady(const ResultRow& row);
    // After the last row; failure holds what ended the batch early, other than a stop.
    void Finished(std::exception_ptr failure);

private:
    void Run();
    void BeginFile(std::size_t index);
    // Hands what change makes to the window's thread, which then calls Deliver. All that
    // crosses the threads does so under Lock: the call that wakes the window's thread carries
    // nothing, as a race detector sees no lock inside Qt's event queue.
    template <typename Change> void Hand(Change change);
    // Emits the rows handed over, then Finished once the batch has ended.
    Q_INVOKABLE void Deliver();

    const std::vector<std::string> Paths;
    const ConversionSettings Settings;
    const std::string WavesParent;
    TRvWave& Wave;
    WorkMonitor Monitor;
    // The file in hand, whose progress the monitor follows.
    std::atomic<int> FileIndex{-1};
    std::thread Worker;
    std::mutex Lock;
    std::vector<ResultRow> Rows; // handed over, not yet delivered
    bool Ended = false;
    std::exception_ptr Failure;
};
