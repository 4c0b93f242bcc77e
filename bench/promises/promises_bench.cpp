// Promise chains and fan-ins beside the same work done with std::promise/std::future and
// with plain posts to the queue. Everything runs on the main queue, pumped on the
// benchmark thread, so the figures compare the promise machinery and not thread hops.
// After the runs, each promise figure is printed as a ratio to its two baselines, and the
// chains report how many heap allocations each step costs (counter "allocs/step", counted
// by replacing the global operator new).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "bench/common/heap.h"
#include "bench/common/ratio_reporter.h"
#include "platform/dispatch/queue.h"
#include "sdk-core/promises/promise.h"
#include "sdk-core/promises/promises.h"

namespace {

std::atomic<long long> allocations{0};

}  // namespace

// GCC pairs the inlined free() below with the replaced operator new and warns; they match.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void* operator new(std::size_t size) {
  allocations.fetch_add(1, std::memory_order_relaxed);
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
#pragma GCC diagnostic pop

namespace {

constexpr int kSteps = 1000;

// Counts the allocations made while `state` runs and reports them per step.
class AllocationsPerStep {
 public:
  explicit AllocationsPerStep(benchmark::State& state) : state_(state), start_(allocations.load()) {}
  ~AllocationsPerStep() {
    const double made = static_cast<double>(allocations.load() - start_);
    state_.counters["allocs/step"] = made / (static_cast<double>(state_.iterations()) * kSteps);
  }

 private:
  benchmark::State& state_;
  long long start_;
};

void BM_PromiseThenChain(benchmark::State& state) {
  AllocationsPerStep counted(state);
  for (auto _ : state) {
    auto first = PRMPromise::pendingPromise();
    auto last = first;
    for (int i = 0; i < kSteps; ++i) {
      last = last->then([](const PRMObject& v) { return PRMObject(*v.get<int>() + 1); });
    }
    first->fulfill(0);
    platform::MainLoop::drain();
    if (*last->value().get<int>() != kSteps) state.SkipWithError("wrong result");
  }
}

// The same chain through the typed front.
void BM_TypedThenChain(benchmark::State& state) {
  AllocationsPerStep counted(state);
  for (auto _ : state) {
    auto first = Promises::Promise<int>::pending();
    auto last = first;
    for (int i = 0; i < kSteps; ++i) last = last.then([](int v) { return v + 1; });
    first.fulfill(0);
    platform::MainLoop::drain();
    if (last.value() != kSteps) state.SkipWithError("wrong result");
  }
}

void BM_FutureChain(benchmark::State& state) {
  AllocationsPerStep counted(state);
  auto main = platform::DispatchQueue::main();
  for (auto _ : state) {
    std::vector<std::promise<int>> promises(kSteps + 1);
    for (int i = 0; i < kSteps; ++i) {
      auto input = std::make_shared<std::future<int>>(promises[i].get_future());
      main->async([input, &output = promises[i + 1]] { output.set_value(input->get() + 1); });
    }
    auto result = promises[kSteps].get_future();
    promises[0].set_value(0);
    platform::MainLoop::drain();
    if (result.get() != kSteps) state.SkipWithError("wrong result");
  }
}

void postStep(const std::shared_ptr<platform::DispatchQueue>& queue, int value, int* out) {
  if (value == kSteps) {
    *out = value;
    return;
  }
  queue->async([queue, value, out] { postStep(queue, value + 1, out); });
}

void BM_PostChain(benchmark::State& state) {
  AllocationsPerStep counted(state);
  auto main = platform::DispatchQueue::main();
  for (auto _ : state) {
    int result = -1;
    main->async([main, &result] { postStep(main, 0, &result); });
    platform::MainLoop::drain();
    if (result != kSteps) state.SkipWithError("wrong result");
  }
}

void BM_PromiseAllFanIn(benchmark::State& state) {
  for (auto _ : state) {
    std::vector<PRMPromise::Ptr> inputs;
    std::vector<PRMObject> objects;
    inputs.reserve(kSteps);
    objects.reserve(kSteps);
    for (int i = 0; i < kSteps; ++i) {
      inputs.push_back(PRMPromise::pendingPromise());
      objects.emplace_back(inputs.back());
    }
    auto all = PRMPromise::all(std::move(objects));
    platform::MainLoop::drain();
    for (int i = 0; i < kSteps; ++i) inputs[i]->fulfill(i);
    platform::MainLoop::drain();
    if (!all->value().array() || all->value().array()->size() != kSteps) state.SkipWithError("wrong result");
  }
}

void BM_FutureFanIn(benchmark::State& state) {
  auto main = platform::DispatchQueue::main();
  for (auto _ : state) {
    auto promises = std::make_shared<std::vector<std::promise<int>>>(kSteps);
    auto futures = std::make_shared<std::vector<std::future<int>>>();
    for (auto& p : *promises) futures->push_back(p.get_future());
    std::vector<int> values;
    for (int i = 0; i < kSteps; ++i) main->async([promises, i] { (*promises)[i].set_value(i); });
    main->async([futures, &values] {
      for (auto& f : *futures) values.push_back(f.get());
    });
    platform::MainLoop::drain();
    if (values.size() != kSteps) state.SkipWithError("wrong result");
  }
}

void BM_PostFanIn(benchmark::State& state) {
  auto main = platform::DispatchQueue::main();
  for (auto _ : state) {
    auto values = std::make_shared<std::vector<int>>(kSteps);
    auto remaining = std::make_shared<int>(kSteps);
    bool done = false;
    for (int i = 0; i < kSteps; ++i) {
      main->async([values, remaining, i, &done] {
        (*values)[i] = i;
        if (--*remaining == 0) done = true;
      });
    }
    platform::MainLoop::drain();
    if (!done) state.SkipWithError("wrong result");
  }
}

BENCHMARK(BM_PromiseThenChain);
BENCHMARK(BM_TypedThenChain);
BENCHMARK(BM_FutureChain);
BENCHMARK(BM_PostChain);
BENCHMARK(BM_PromiseAllFanIn);
BENCHMARK(BM_FutureFanIn);
BENCHMARK(BM_PostFanIn);

}  // namespace

int main(int argc, char** argv) {
  // Each iteration builds a 1,000-step chain and frees it again.
  brivel::bench::keepFreedHeapUnlessCold();
  brivel::bench::RatioReporter reporter;
  if (!reporter.run(&argc, argv)) return 1;
  reporter.printRatios("The promise versions beside their baselines, same run; 1,000 steps each (ratio = ours / baseline):",
                       {
                           {"BM_PromiseThenChain", "BM_FutureChain"},
                           {"BM_PromiseThenChain", "BM_PostChain"},
                           {"BM_TypedThenChain", "BM_FutureChain"},
                           {"BM_PromiseAllFanIn", "BM_FutureFanIn"},
                           {"BM_PromiseAllFanIn", "BM_PostFanIn"},
                       });
  reporter.printRatios("Heap allocations per chain step:",
                       {{"BM_PromiseThenChain", "BM_FutureChain"}, {"BM_TypedThenChain", "BM_FutureChain"}},
                       {brivel::bench::Measure::counterNamed("allocs/step")});
  benchmark::Shutdown();
  return 0;
}
