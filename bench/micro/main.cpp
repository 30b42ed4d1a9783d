// The byte builders and the help reader, timed with Google Benchmark.
#include "LongestSelection.h"
#include "RtfReader.h"
#include "SettingsBatch.h"
#include "TestPage.h"

#include "HelpTopics.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

namespace {

void LongestSettingsBatch(benchmark::State &state) {
    const krv::settings::Selection selection = krv::bench::longestSelection();
    qsizetype bytes = 0;
    for (auto _ : state) {
        QByteArray batch = krv::settings::makeSettingsBatch(selection);
        bytes = batch.size();
        benchmark::DoNotOptimize(batch);
    }
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(LongestSettingsBatch);

void TestPage(benchmark::State &state) {
    qsizetype bytes = 0;
    for (auto _ : state) {
        QByteArray page = krv::testprint::makeTestPage();
        bytes = page.size();
        benchmark::DoNotOptimize(page);
    }
    state.counters["bytes"] = double(bytes);
}
BENCHMARK(TestPage);

// What the help needs from nothing: each topic's RTF, read into a document.
void SixteenHelpTopics(benchmark::State &state) {
    for (auto _ : state) {
        for (int i = 0; i < krv::help::HelpTopicCount; ++i) {
            krv::help::RtfResult result = krv::help::readRtf(krv::help::helpDocument(i));
            benchmark::DoNotOptimize(result.document.get());
        }
    }
}
BENCHMARK(SixteenHelpTopics)->Unit(benchmark::kMicrosecond);

// The same split in two, to see which half costs what.
void SixteenHelpTopicsLoadOnly(benchmark::State &state) {
    krv::help::HelpTopicArray topics;
    for (auto _ : state) {
        krv::help::LoadHelpTopics(topics);
        benchmark::DoNotOptimize(topics.data());
    }
}
BENCHMARK(SixteenHelpTopicsLoadOnly)->Unit(benchmark::kMicrosecond);

void SixteenHelpTopicsReadOnly(benchmark::State &state) {
    krv::help::HelpTopicArray topics;
    krv::help::LoadHelpTopics(topics);
    for (auto _ : state) {
        for (const QByteArray &topic : topics) {
            krv::help::RtfResult result = krv::help::readRtf(topic);
            benchmark::DoNotOptimize(result.document.get());
        }
    }
}
BENCHMARK(SixteenHelpTopicsReadOnly)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char *argv[]) {
    // Documents need fonts, so a GUI application, but no screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
