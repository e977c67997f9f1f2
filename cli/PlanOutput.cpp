#include "cli/PlanOutput.h"

#include "cli/RunReport.h"
#include "sync/compare/Analysis.h"
#include "sync/memory/Remember.h"

#include <nlohmann/json.hpp>

#include <ostream>

namespace duplora::cli {

namespace {

const char* OpName(TSyncOp op) {
    switch (op) {
    case opToMirror:
        return "to-mirror";
    case opToHost:
        return "to-host";
    case opDelete:
        return "delete";
    default:
        return nullptr;
    }
}

// A JSON string literal. Names that are not valid UTF-8 get U+FFFD for the
// bad bytes instead of failing the whole output.
std::string JsonString(std::string_view s) {
    return nlohmann::json(std::string(s))
        .dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

bool ValidUtf8(std::string_view s) {
    try {
        (void)nlohmann::json(std::string(s)).dump();
        return true;
    } catch (const nlohmann::json::type_error&) {
        return false;
    }
}

// The remembered kinds in their order, as words, for the counts' keys.
constexpr const char* kRememberedKeys[kRememberedKinds] = {"",
                                                           "deleted_in_host",
                                                           "deleted_in_mirror",
                                                           "changed_on_both",
                                                           "changed_deleted_in_mirror",
                                                           "changed_deleted_in_host"};
constexpr const char* kRememberedWords[kRememberedKinds] = {"",
                                                            "deleted-in-host",
                                                            "deleted-in-mirror",
                                                            "changed-on-both",
                                                            "changed-deleted-in-mirror",
                                                            "changed-deleted-in-host"};

} // namespace

const char* RememberedWord(Remembered kind) {
    const auto i = static_cast<std::size_t>(kind);
    return i < std::size(kRememberedWords) ? kRememberedWords[i] : "";
}

std::string Base64(std::string_view bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const auto v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                       static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += kDigits[(v >> 6) & 63];
        out += kDigits[v & 63];
    }
    if (const std::size_t rest = bytes.size() - i; rest > 0) {
        std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
        if (rest == 2)
            v |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
        out += kDigits[v >> 18];
        out += kDigits[(v >> 12) & 63];
        out += rest == 2 ? kDigits[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string JsonPathMembers(std::string_view key, std::string_view path) {
    std::string out = "\"" + std::string(key) + "\": " + JsonString(path);
    if (!ValidUtf8(path))
        out += ", \"" + std::string(key) + "_bytes\": \"" + Base64(path) + '"';
    return out;
}

void ForEachPlannedOp(const SyncPlan& plan, const std::function<void(const PlannedOp&)>& fn) {
    for (const TMove& m : plan.Moves) {
        if (!plan.MoveLive(m))
            continue;
        const TFileEntry& from = plan.MoveOld(m);
        fn({"move", m.OnMirror ? "mirror" : "host", plan.MoveNew(m).RelPath, from.Size,
            from.RelPath});
    }
    for (const TFileEntry& e : plan.HostFiles) {
        if (const char* name = OpName(e.Op)) {
            const std::int64_t size = e.Op == opDelete ? e.Size : plan.SourceSize(e, true);
            fn({name, "host", e.RelPath, size, {}, plan.RememberedOf(e, true)});
        }
    }
    for (int i = plan.MirrorFiles.Count() - 1; i >= 0; --i) {
        const TFileEntry& e = plan.MirrorFiles.Items(i);
        if (e.Op == opToMirror)
            continue; // a mirror file is never copied to the mirror
        if (const char* name = OpName(e.Op)) {
            const std::int64_t size = e.Op == opDelete ? e.Size : plan.SourceSize(e, false);
            fn({name, "mirror", e.RelPath, size, {}, plan.RememberedOf(e, false)});
        }
    }
}

std::string EscapeControls(std::string_view path) {
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(path.size());
    for (char c : path) {
        const auto b = static_cast<unsigned char>(c);
        if (c == '\\') {
            out += "\\\\";
        } else if (b < 0x20 || b == 0x7F) {
            out += "\\x";
            out += kHex[b >> 4];
            out += kHex[b & 15];
        } else {
            out += c;
        }
    }
    return out;
}

void WritePlanText(const SyncPlan& plan, std::ostream& out, PlanOptions options) {
    ForEachPlannedOp(plan, [&out](const PlannedOp& op) {
        out << op.op << '\t' << op.side << '\t';
        if (!op.from.empty())
            out << EscapeControls(op.from) << '\t';
        out << EscapeControls(op.path) << '\n';
    });
    for (const std::vector<std::string>& group : plan.CaseCollisions)
        out << "# " << EscapeControls(CaseCollisionLine(group)) << '\n';
    if (options.withMemory) {
        if (plan.RememberedSince != 0) {
            out << "# remembered since "
                << IsoLocalTime(static_cast<std::time_t>(plan.RememberedSince)) << ':';
            for (int k = 1; k < kRememberedKinds; ++k)
                out << (k == 1 ? " " : ", ") << kRememberedWords[k] << ' '
                    << plan.RememberedCount[static_cast<std::size_t>(k)];
            out << '\n';
        } else if (!plan.MemoryNote.empty()) {
            out << "# " << EscapeControls(plan.MemoryNote) << '\n';
        }
    }
    out << "# to-mirror " << plan.ToMirrorCount << ", to-host " << plan.ToHostCount
        << ", delete-host " << plan.HostDeleteCount << ", delete-mirror " << plan.MirrorDeleteCount
        << ", empty-folders " << plan.EmptyFolderCount << ", bytes " << plan.TotalBytes;
    if (options.withMoves)
        out << ", moves " << plan.MoveCount;
    out << '\n';
}

void WritePlanJson(const SyncPlan& plan, const std::string& taskName, const std::string& hostRoot,
                   const std::string& mirrorRoot, std::ostream& out, PlanOptions options) {
    out << "{\"format_version\": " << kJsonFormatVersion << ", \"task\": " << JsonString(taskName)
        << ", " << JsonPathMembers("host_root", hostRoot) << ", "
        << JsonPathMembers("mirror_root", mirrorRoot) << ",\n \"operations\": [";
    bool first = true;
    ForEachPlannedOp(plan, [&](const PlannedOp& op) {
        out << (first ? "\n  " : ",\n  ") << "{\"op\": \"" << op.op << "\", \"side\": \"" << op.side
            << "\", ";
        if (!op.from.empty())
            out << JsonPathMembers("from", op.from) << ", ";
        out << JsonPathMembers("path", op.path) << ", \"size\": " << op.size;
        if (op.kind != Remembered::None)
            out << ", \"remembered\": \"" << RememberedWord(op.kind) << "\", \"reason\": "
                << JsonString(RememberedReason(op.kind, plan.RememberedSince));
        out << '}';
        first = false;
    });
    out << (first ? "" : "\n ") << "],\n \"counts\": {\"to_mirror\": " << plan.ToMirrorCount
        << ", \"to_host\": " << plan.ToHostCount << ", \"delete_host\": " << plan.HostDeleteCount
        << ", \"delete_mirror\": " << plan.MirrorDeleteCount
        << ", \"empty_folders\": " << plan.EmptyFolderCount
        << ", \"total_bytes\": " << plan.TotalBytes;
    if (options.withMoves)
        out << ", \"moves\": " << plan.MoveCount;
    out << '}';
    if (options.withMemory) {
        const bool remembered = plan.RememberedSince != 0;
        out << ",\n \"remembered\": " << (remembered ? "true" : "false") << ", \"memory_note\": "
            << (plan.MemoryNote.empty() ? std::string("null") : JsonString(plan.MemoryNote))
            << ", \"remembered_since\": "
            << (remembered
                    ? JsonString(IsoLocalTime(static_cast<std::time_t>(plan.RememberedSince)))
                    : std::string("null"))
            << ",\n \"remembered_counts\": {";
        for (int k = 1; k < kRememberedKinds; ++k)
            out << (k == 1 ? "\"" : ", \"") << kRememberedKeys[k]
                << "\": " << plan.RememberedCount[static_cast<std::size_t>(k)];
        out << '}';
    }
    if (!plan.CaseCollisions.empty()) {
        out << ",\n \"case_collisions\": [";
        for (std::size_t g = 0; g < plan.CaseCollisions.size(); ++g) {
            out << (g == 0 ? "[" : ", [");
            const std::vector<std::string>& group = plan.CaseCollisions[g];
            for (std::size_t i = 0; i < group.size(); ++i)
                out << (i == 0 ? "{" : ", {") << JsonPathMembers("path", group[i]) << '}';
            out << ']';
        }
        out << ']';
    }
    out << "}\n";
}

} // namespace duplora::cli
