// Any bytes, cut into chunks anywhere: the decoder must neither crash nor
// depend on the cut, and every offset it reports must lie inside the job.
#include "Decoder.h"
#include "MemorySwitches.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    // The first byte chooses where the job is cut in two.
    const QByteArrayView job(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const qsizetype cut = job.isEmpty() ? 0 : data[0] % (job.size() + 1);

    const krv::sim::Decoded whole = krv::sim::decode(job);

    krv::sim::Decoder pieces;
    pieces.feed(job.first(cut));
    pieces.feed(job.sliced(cut));
    pieces.finish();
    const std::vector<krv::sim::Event> events = pieces.takeEvents();
    const std::vector<krv::sim::Problem> problems = pieces.takeProblems();
    if (events != whole.events || problems.size() != whole.problems.size())
        std::abort();

    krv::sim::MemorySwitches switches;
    for (const krv::sim::Event &event : events) {
        if (event.offset < 0 || event.offset >= job.size())
            std::abort();
        (void)event.describe();
        for (const krv::sim::SwitchChange &change : switches.apply(event))
            (void)krv::sim::describeChange(change);
    }
    for (const krv::sim::Problem &problem : problems) {
        if (problem.offset < problem.commandOffset || problem.offset > job.size())
            std::abort();
        (void)problem.describe();
    }
    return 0;
}
