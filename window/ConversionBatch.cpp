#include "ConversionBatch.h"

#include "ReadAhead.h"
#include "RvWaveComponent.h"

#include <utility>

TConversionBatch::TConversionBatch(std::vector<std::string> paths, ConversionSettings settings,
                                   std::string wavesParent, TRvWave& wave, QObject* parent)
    : QObject(parent), Paths(std::move(paths)), Settings(std::move(settings)),
      WavesParent(std::move(wavesParent)), Wave(wave) {}

TConversionBatch::~TConversionBatch() {
    Abort();
    if (Worker.joinable())
        Worker.join();
}

void TConversionBatch::Start() {
    Worker = std::thread([this] { Run(); });
}

void TConversionBatch::Abort() {
    Monitor.RequestStop();
}

void TConversionBatch::Wait() {
    if (Worker.joinable())
        Worker.join();
}

void TConversionBatch::BeginFile(std::size_t index) {
    Monitor.BeginItem();
    FileIndex.store(static_cast<int>(index));
}

double TConversionBatch::FileShare(int index) const {
    return FileIndex.load() == index ? Monitor.ItemShare() : 0;
}

void TConversionBatch::Run() {
    ReadAhead readAhead;
    std::exception_ptr failure;
    Wave.SetMonitor(&Monitor);
    try {
        for (std::size_t index = 0; index < Paths.size() && !Monitor.StopRequested(); ++index) {
            BeginFile(index);
            readAhead.Starting(Paths, index);
            ResultRow row = ConvertFile(Paths[index], Settings, WavesParent, Wave);
            Hand([&] { Rows.push_back(std::move(row)); });
        }
    } catch (const EWorkStopped&) {
        // The file in hand was given up: it has no row.
    } catch (...) {
        failure = std::current_exception();
    }
    FileIndex.store(-1);
    Wave.SetMonitor(nullptr);
    // Nothing reads the last file's samples once the batch is over: they go, so that memory
    // is not held idle, nor a file kept mapped (which on Windows bars replacing, moving or
    // deleting it until the next drop).
    if (TRvInternalWAVE* wave = Wave.Wave())
        wave->FreeWAVE();
    Hand([&] {
        Ended = true;
        Failure = failure;
    });
}

template <typename Change> void TConversionBatch::Hand(Change change) {
    {
        const std::lock_guard lock(Lock);
        change();
    }
    QMetaObject::invokeMethod(this, "Deliver", Qt::QueuedConnection);
}

void TConversionBatch::Deliver() {
    std::vector<ResultRow> rows;
    bool ended = false;
    std::exception_ptr failure;
    {
        const std::lock_guard lock(Lock);
        rows.swap(Rows);
        ended = std::exchange(Ended, false);
        failure = Failure;
    }
    for (const ResultRow& row : rows)
        emit RowReady(row);
    if (ended)
        emit Finished(failure);
}
