#include "sync/plan/DeleteGuard.h"

#include "tasks/Helpers.h"
#include "tasks/TextTable.h"

namespace duplora {

int SideLoss::Percent() const {
    if (Files <= 0)
        return 0;
    return static_cast<int>((Lost * 100 + Files / 2) / Files);
}

bool SideLoss::Over(int limit) const {
    return limit > 0 && Lost * 100 > static_cast<std::int64_t>(limit) * Files;
}

std::string SideLoss::PercentText(int limit) const {
    const int whole = Percent();
    if (!Over(limit) || whole > limit)
        return std::to_string(whole);
    // Lost / Files lies between limit and limit + 0.5 per cent: the first
    // cut decimal fraction above the limit. Files < 2^63 / 100 needs at most
    // 18 decimals, and the products fit in 128 bits.
    using Wide = __int128;
    Wide scale = 1;
    for (int decimals = 1; decimals <= 18; ++decimals) {
        scale *= 10;
        const Wide shown = Wide{Lost} * 100 * scale / Files;
        if (shown > Wide{limit} * scale) {
            std::string fraction = std::to_string(static_cast<std::int64_t>(shown % scale));
            fraction.insert(0, static_cast<std::size_t>(decimals) - fraction.size(), '0');
            return std::to_string(static_cast<std::int64_t>(shown / scale)) + "." + fraction;
        }
    }
    return std::to_string(whole);
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

std::string GuardText(int message, const DeleteGuard& g) {
    std::string text = Msg(message);
    const std::string values[] = {GroupThousands(g.Host.Lost),    GroupThousands(g.Host.Files),
                                  g.Host.PercentText(g.Limit),    GroupThousands(g.Mirror.Lost),
                                  GroupThousands(g.Mirror.Files), g.Mirror.PercentText(g.Limit),
                                  std::to_string(g.Limit)};
    for (int i = 0; i < 7; ++i)
        text = ReplaceFirst(text, "%" + std::to_string(i + 1), values[i]);
    return text;
}

} // namespace duplora
