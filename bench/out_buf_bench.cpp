// Receiving an upstream body into a COutBuf in 16 KiB pieces: with the growth
// step of 256 every piece grows the storage (a reallocation, and a copy where
// the allocator cannot extend the block in place); reserving the announced
// Content-Length first makes it one allocation. "growths" counts how often the
// storage changed per body.
#include <benchmark/benchmark.h>

#include <vector>

#include "base/out_buf.h"

namespace {

const int32_t PIECE = 16384;

void Receive(benchmark::State& state, bool reserve)
{
    const int32_t size = static_cast<int32_t>(state.range(0));
    std::vector<uint8_t> piece(PIECE, 0x5A);
    int64_t growths = 0;
    for (auto _ : state) {
        COutBuf sink;
        int32_t capacity = 0;
        if (reserve) sink.Reserve(size);
        for (int32_t done = 0; done < size; done += PIECE) {
            sink.Write(piece.data(), PIECE);
            if (sink.GetCapacity() != capacity) ++growths;
            capacity = sink.GetCapacity();
        }
        benchmark::DoNotOptimize(sink.GetData());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
    state.counters["growths"] = benchmark::Counter(static_cast<double>(growths) / state.iterations());
}

void BM_ReceiveGrowing(benchmark::State& state) { Receive(state, false); }
void BM_ReceiveReserved(benchmark::State& state) { Receive(state, true); }

BENCHMARK(BM_ReceiveGrowing)->Arg(1 << 20)->Arg(16 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReceiveReserved)->Arg(1 << 20)->Arg(16 << 20)->Arg(64 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
