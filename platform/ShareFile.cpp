#include "platform/ShareFile.h"

#include <gio/gio.h>

namespace duplora {

namespace {

struct FileRef {
    GFile* file;
    explicit FileRef(const std::string& path) : file(g_file_new_for_path(path.c_str())) {}
    ~FileRef() { g_object_unref(file); }
    FileRef(const FileRef&) = delete;
    FileRef& operator=(const FileRef&) = delete;
};

std::string TakeMessage(GError*& e) {
    std::string text = e && e->message ? e->message : "unknown error";
    g_clear_error(&e);
    return text;
}

} // namespace

bool ReachesShareDirectly(const std::string& folder) {
    // A path below GVfs's FUSE folder comes back as the daemon's own file
    // (smb://...); any other path, and every path without GVfs, as a local
    // file. Only SMB shares: other GVfs backends may lack a rename of their
    // own.
    const FileRef f(folder);
    return !g_file_is_native(f.file) && g_file_has_uri_scheme(f.file, "smb");
}

ShareWrite WriteShareFile(const std::string& path, std::string_view data, const timespec& mtime,
                          std::string& error) {
    const FileRef f(path);
    GError* e = nullptr;
    GFileOutputStream* stream = g_file_create(f.file, G_FILE_CREATE_NONE, nullptr, &e);
    if (!stream) {
        const bool exists = g_error_matches(e, G_IO_ERROR, G_IO_ERROR_EXISTS);
        error = TakeMessage(e);
        return exists ? ShareWrite::Exists : ShareWrite::CreateFailed;
    }
    GOutputStream* out = G_OUTPUT_STREAM(stream);
    gsize written = 0;
    bool ok = g_output_stream_write_all(out, data.data(), data.size(), &written, nullptr, &e);
    // Closed even after a failed write: the daemon lets go of the file.
    GError* closeError = nullptr;
    const bool closed = g_output_stream_close(out, nullptr, &closeError);
    g_object_unref(stream);
    if (!ok || !closed) {
        error = TakeMessage(e ? e : closeError);
        g_clear_error(&closeError);
        g_file_delete(f.file, nullptr, nullptr);
        return ShareWrite::WriteFailed;
    }
    // After the close: a time set while a writing handle is open is replaced
    // by the moment that handle closes.
    if (!g_file_set_attribute_uint64(f.file, G_FILE_ATTRIBUTE_TIME_MODIFIED,
                                     static_cast<guint64>(mtime.tv_sec),
                                     G_FILE_QUERY_INFO_NOFOLLOW_SYMLINKS, nullptr, &e))
        g_clear_error(&e); // like a refused mode: the copy itself is good
    return ShareWrite::Done;
}

ShareMove MoveShareFile(const std::string& from, const std::string& to, bool replace,
                        std::string& error) {
    const FileRef src(from);
    const FileRef dst(to);
    GError* e = nullptr;
    const auto flags = static_cast<GFileCopyFlags>(
        G_FILE_COPY_NO_FALLBACK_FOR_MOVE | G_FILE_COPY_NOFOLLOW_SYMLINKS |
        (replace ? G_FILE_COPY_OVERWRITE : G_FILE_COPY_NONE));
    if (g_file_move(src.file, dst.file, flags, nullptr, nullptr, nullptr, &e))
        return ShareMove::Done;
    const bool exists = g_error_matches(e, G_IO_ERROR, G_IO_ERROR_EXISTS);
    error = TakeMessage(e);
    return exists ? ShareMove::Exists : ShareMove::Failed;
}

bool ShareFileExists(const std::string& path) {
    const FileRef f(path);
    return g_file_query_exists(f.file, nullptr);
}

bool RemoveShareFile(const std::string& path) {
    const FileRef f(path);
    return g_file_delete(f.file, nullptr, nullptr);
}

} // namespace duplora
