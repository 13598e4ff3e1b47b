// The loadable face of Mp4Demuxer (see mp4_module.h).
#include "mp4_module.h"

#include <cstdio>
#include <new>
#include <string>
#include <vector>

#include "mp4_demux.h"

struct SonadecMp4 {
    Mp4Demuxer demux;
    std::vector<uint8_t> unit;
};

namespace {

SonadecMp4* openMp4(SonadecMp4Read read, SonadecMp4Seek seek, void* ctx, uint64_t size, char* err, size_t errSize) {
    if (err != nullptr && errSize > 0) err[0] = '\0';
    auto* m = new (std::nothrow) SonadecMp4;
    std::string why = "out of memory";
    if (m != nullptr &&
        m->demux.open([read, ctx](uint8_t* dst, size_t n) { return read(ctx, dst, n); },
                      [seek, ctx](uint64_t at) { return seek(ctx, at) != 0; }, size, &why))
        return m;
    delete m;
    if (err != nullptr && errSize > 0) std::snprintf(err, errSize, "%s", why.c_str());
    return nullptr;
}

void closeMp4(SonadecMp4* m) { delete m; }

const uint8_t* configOf(const SonadecMp4* m, size_t* n) {
    *n = m->demux.audioSpecificConfig().size();
    return m->demux.audioSpecificConfig().data();
}

uint64_t unitCountOf(const SonadecMp4* m) { return m->demux.unitCount(); }

int nextUnitOf(SonadecMp4* m, const uint8_t** data, size_t* n) {
    if (!m->demux.nextUnit(&m->unit)) return m->demux.error().empty() ? 0 : -1;
    *data = m->unit.data();
    *n = m->unit.size();
    return 1;
}

const char* lastErrorOf(const SonadecMp4* m) { return m->demux.error().c_str(); }

const SonadecMp4Module kModule = {SONADEC_MP4_ABI, openMp4,    closeMp4,   configOf,
                                  unitCountOf,     nextUnitOf, lastErrorOf};

} // namespace

extern "C" __attribute__((visibility("default"))) const SonadecMp4Module* sonadecMp4Module() { return &kModule; }
