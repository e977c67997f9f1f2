#include "sync/plan/DeleteGuard.h"

namespace duplora {

int SideLoss::Percent() const {
    if (Files <= 0)
        return 0;
    return static_cast<int>((Lost * 100 + Files / 2) / Files);
}

bool SideLoss::Over(int limit) const {
    return limit > 0 && Lost * 100 > static_cast<std::int64_t>(limit) * Files;
}

DeleteGuard MeasureDeleteGuard(const SyncPlan& plan, int limitPercent, bool mirrorScanned) {
    DeleteGuard g;
    g.Limit = limitPercent;
    g.Host.Files = static_cast<std::int64_t>(plan.HostFiles.size());
    g.Mirror.Files = mirrorScanned ? plan.MirrorFiles.Count() : 0;
    for (const TFileEntry& e : plan.HostFiles) {
        if (e.Op == opDelete || e.Op == opToHost) // a host entry copied to the host has a twin
            ++g.Host.Lost;
        else if (e.Op == opToMirror && mirrorScanned && plan.MirrorFiles.Find(e.RelPath) >= 0)
            ++g.Mirror.Lost;
    }
    if (mirrorScanned)
        for (int i = 0; i < plan.MirrorFiles.Count(); ++i)
            if (plan.MirrorFiles.Items(i).Op == opDelete)
                ++g.Mirror.Lost;
    return g;
}

} // namespace duplora
