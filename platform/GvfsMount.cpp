// The GVfs mounter: GIO calls on a private main context, so that waiting for
// the mount daemon never dispatches the window's own events (Qt runs on the
// default GLib context) and the console program needs no main loop.

#include "platform/NetErrors.h"
#include "platform/ShareMount.h"

#include <gio/gio.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <spawn.h>
#include <string_view>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace duplora {

ShareCredentials CredentialsFor(const std::string& netUser, const std::string& password) {
    ShareCredentials c;
    c.password = password;
    const std::size_t backslash = netUser.find('\\');
    const std::size_t at = netUser.rfind('@');
    if (backslash != std::string::npos) {
        c.domain = netUser.substr(0, backslash);
        c.user = netUser.substr(backslash + 1);
    } else if (at != std::string::npos) {
        c.user = netUser.substr(0, at);
        c.domain = netUser.substr(at + 1);
    } else {
        c.user = netUser;
    }
    return c;
}

namespace {

// A server that drops packets makes libsmbclient wait for its own timeouts;
// past this the attempt is cancelled and reported as an unreachable server.
constexpr auto kMountLimit = std::chrono::seconds(60);
constexpr guint kPumpMs = 50;

std::mutex pumpMutex;
std::function<void()> mountPump;

struct Wait {
    GMainContext* context = nullptr;
    GCancellable* cancellable = nullptr;
    bool done = false;
    bool timedOut = false;
    GError* error = nullptr;
};

gboolean Tick(gpointer) {
    return G_SOURCE_CONTINUE;
}

// Iterates the private context until the operation's callback ran; calls
// the pump in between and cancels at the limit.
void WaitFor(Wait& w) {
    GSource* tick = g_timeout_source_new(kPumpMs);
    g_source_set_callback(tick, Tick, nullptr, nullptr);
    g_source_attach(tick, w.context);
    const auto start = std::chrono::steady_clock::now();
    while (!w.done) {
        g_main_context_iteration(w.context, TRUE);
        std::function<void()> pump;
        {
            const std::lock_guard lock(pumpMutex);
            pump = mountPump;
        }
        if (pump && !w.done)
            pump();
        if (!w.timedOut && std::chrono::steady_clock::now() - start > kMountLimit) {
            w.timedOut = true;
            g_cancellable_cancel(w.cancellable);
        }
    }
    g_source_destroy(tick);
    g_source_unref(tick);
}

// The private context for one call, made the thread's default while it
// lives, so GIO delivers the callbacks there.
class ContextScope {
public:
    ContextScope() : context_(g_main_context_new()) {
        g_main_context_push_thread_default(context_);
    }
    ~ContextScope() {
        // Let GIO finish what it queued on this context before it goes.
        while (g_main_context_pending(context_))
            g_main_context_iteration(context_, FALSE);
        g_main_context_pop_thread_default(context_);
        g_main_context_unref(context_);
    }
    GMainContext* get() const { return context_; }

private:
    GMainContext* context_;
};

struct Asker {
    const ShareCredentials* credentials = nullptr;
    int asks = 0;
};

void AskPassword(GMountOperation* op, const char*, const char*, const char*, GAskPasswordFlags,
                 gpointer data) {
    auto* asker = static_cast<Asker*>(data);
    // The daemon asks again only when the server refused the answer: the
    // credentials are wrong, and asking on would only lock the account.
    if (++asker->asks > 1) {
        g_mount_operation_reply(op, G_MOUNT_OPERATION_ABORTED);
        return;
    }
    const ShareCredentials& c = *asker->credentials;
    g_mount_operation_set_username(op, c.user.c_str());
    if (!c.domain.empty())
        g_mount_operation_set_domain(op, c.domain.c_str());
    g_mount_operation_set_password(op, c.password.c_str());
    g_mount_operation_set_password_save(op, G_PASSWORD_SAVE_NEVER);
    g_mount_operation_reply(op, G_MOUNT_OPERATION_HANDLED);
}

// Nobody is there to answer a question (an unknown certificate, say).
void AskQuestion(GMountOperation* op, const char*, const char**, gpointer) {
    g_mount_operation_reply(op, G_MOUNT_OPERATION_ABORTED);
}

// GVfs's smb backend reports libsmbclient's errno only as text
// ("Failed to mount Windows share: Connection refused"), in English or in
// the daemon's language.
bool MessageHasErrno(const char* message, int err) {
    if (!message)
        return false;
    const std::string_view text(message);
    return text.find(g_strerror(err)) != std::string_view::npos ||
           text.find(std::strerror(err)) != std::string_view::npos;
}

int MountErrorCode(const GError* e, const Asker& asker, bool timedOut) {
    if (asker.asks > 1)
        return kNetBadCredentials;
    if (timedOut)
        return kNetPathNotFound;
    if (e->domain != G_IO_ERROR)
        return kNetSpecificError;
    switch (e->code) {
    case G_IO_ERROR_PERMISSION_DENIED:
        return kNetAccessDenied;
    case G_IO_ERROR_CANCELLED:
    case G_IO_ERROR_FAILED_HANDLED:
        return kNetCancelled;
    case G_IO_ERROR_NOT_SUPPORTED:
    case G_IO_ERROR_DBUS_ERROR:
        return kNetNotStarted;
    case G_IO_ERROR_NETWORK_UNREACHABLE:
        return kNetNoNetwork;
    case G_IO_ERROR_HOST_NOT_FOUND:
    case G_IO_ERROR_HOST_UNREACHABLE:
    case G_IO_ERROR_CONNECTION_REFUSED:
    case G_IO_ERROR_TIMED_OUT:
        return kNetPathNotFound;
    case G_IO_ERROR_NOT_FOUND:
        return kNetBadName;
    case G_IO_ERROR_FAILED:
        break;
    default:
        return kNetUnmappedBase + e->code;
    }
    if (MessageHasErrno(e->message, ENOENT) || MessageHasErrno(e->message, ENODEV))
        return kNetBadName;
    if (MessageHasErrno(e->message, ENETUNREACH) || MessageHasErrno(e->message, ENETDOWN))
        return kNetNoNetwork;
    // libsmbclient answers an unknown host name with EINVAL.
    if (MessageHasErrno(e->message, ECONNREFUSED) || MessageHasErrno(e->message, EHOSTUNREACH) ||
        MessageHasErrno(e->message, ETIMEDOUT) || MessageHasErrno(e->message, EINVAL) ||
        MessageHasErrno(e->message, EHOSTDOWN))
        return kNetPathNotFound;
    if (MessageHasErrno(e->message, EACCES) || MessageHasErrno(e->message, EPERM))
        return kNetAccessDenied;
    return kNetSpecificError;
}

// Right after a share was mounted again in the same session, GVfs's FUSE
// bridge may answer its folder with EIO for a few hundred milliseconds
// (measured: up to 0.5 s with GVfs 1.50) while it drops a stale link to the
// old mount's daemon.
bool Reachable(const std::string& path) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    for (;;) {
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0)
            return S_ISDIR(st.st_mode);
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::function<void()> pump;
        {
            const std::lock_guard lock(pumpMutex);
            pump = mountPump;
        }
        if (pump)
            pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

// Started by the session bus on first use, the GVfs daemon and the backends
// it starts (gvfsd-smb, whose libsmbclient prints lines such as "Kerberos
// auth with 'guest@WORKGROUP' ...") write to the bus daemon's standard
// output. Under dbus-run-session that is the standard output of the whole
// command, so the chatter would land in the middle of `run --json`. When no
// GVfs daemon runs in the session yet, this process starts it itself, with
// its standard output on this process's standard error, and waits until it
// has taken its bus name; the bus then starts no other. A desktop session's
// daemon, already running, is left alone.
constexpr char kGvfsDaemon[] = "/usr/libexec/gvfsd";
constexpr char kGvfsBusName[] = "org.gtk.vfs.Daemon";

bool GvfsDaemonRuns(GDBusConnection* bus) {
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", kGvfsBusName), G_VARIANT_TYPE("(b)"),
        G_DBUS_CALL_FLAGS_NONE, 5000, nullptr, nullptr);
    gboolean owned = FALSE;
    if (reply) {
        g_variant_get(reply, "(b)", &owned);
        g_variant_unref(reply);
    }
    return owned;
}

void StartQuietDaemon() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (::access(kGvfsDaemon, X_OK) != 0)
            return;
        GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        if (!bus)
            return;
        if (!GvfsDaemonRuns(bus)) {
            posix_spawn_file_actions_t files;
            posix_spawn_file_actions_init(&files);
            posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
            posix_spawn_file_actions_adddup2(&files, 2, 1);
            posix_spawnattr_t attr;
            posix_spawnattr_init(&attr);
            // Its own session: a Ctrl+C meant for this program leaves the
            // session's daemon running, as the bus would have started it.
            posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
            char* argv[] = {const_cast<char*>("gvfsd"), nullptr};
            pid_t pid = 0;
            if (posix_spawn(&pid, kGvfsDaemon, &files, &attr, argv, environ) == 0) {
                const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
                while (!GvfsDaemonRuns(bus) && std::chrono::steady_clock::now() < end)
                    std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            posix_spawnattr_destroy(&attr);
            posix_spawn_file_actions_destroy(&files);
        }
        g_object_unref(bus);
    });
}

std::string PathOf(GFile* file) {
    char* path = g_file_get_path(file);
    std::string out = path ? path : "";
    g_free(path);
    return out;
}

class Gvfs final : public ShareMounter {
public:
    std::string FindMount(const std::string& uri) override {
        StartQuietDaemon();
        const ContextScope scope;
        GFile* file = g_file_new_for_uri(uri.c_str());
        GMount* mount = g_file_find_enclosing_mount(file, nullptr, nullptr);
        std::string path;
        if (mount) {
            path = PathOf(file);
            g_object_unref(mount);
        }
        if (!path.empty() && !Reachable(path))
            path.clear();
        g_object_unref(file);
        return path;
    }

    int Mount(const std::string& uri, const ShareCredentials& credentials,
              std::string& localPath) override {
        StartQuietDaemon();
        const ContextScope scope;
        GFile* file = g_file_new_for_uri(uri.c_str());
        GMountOperation* op = g_mount_operation_new();
        Asker asker;
        asker.credentials = &credentials;
        g_signal_connect(op, "ask-password", G_CALLBACK(AskPassword), &asker);
        g_signal_connect(op, "ask-question", G_CALLBACK(AskQuestion), nullptr);
        Wait w;
        w.context = scope.get();
        w.cancellable = g_cancellable_new();
        g_file_mount_enclosing_volume(
            file, G_MOUNT_MOUNT_NONE, op, w.cancellable,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto* wait = static_cast<Wait*>(data);
                g_file_mount_enclosing_volume_finish(G_FILE(source), result, &wait->error);
                wait->done = true;
            },
            &w);
        WaitFor(w);
        int code = 0;
        const bool alreadyMounted =
            w.error && g_error_matches(w.error, G_IO_ERROR, G_IO_ERROR_ALREADY_MOUNTED);
        if (alreadyMounted)
            code = 0; // mounted meanwhile by someone else: use it
        else if (w.error)
            code = MountErrorCode(w.error, asker, w.timedOut);
        if (code == 0) {
            localPath = PathOf(file);
            if (localPath.empty())
                code = kNetNotStarted; // mounted, but no FUSE bridge to reach it
            else if (!Reachable(localPath))
                code = kNetPathNotFound;
            if (code != 0 && !alreadyMounted)
                Unmount(uri, true); // nothing the run cannot use stays mounted
        }
        g_clear_error(&w.error);
        g_object_unref(w.cancellable);
        // The operation holds the password; it goes with the object.
        g_mount_operation_set_password(op, "");
        g_object_unref(op);
        g_object_unref(file);
        return code;
    }

    // $XDG_RUNTIME_DIR/duplora-shares, the folder of the session's mounts;
    // else /tmp/duplora-shares-UID, taken only when it is this user's own
    // folder and nobody else may write there.
    std::string UsersFolder() override {
        const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        const std::string folder = runtime && runtime[0] == '/'
                                       ? std::string(runtime) + "/duplora-shares"
                                       : "/tmp/duplora-shares-" + std::to_string(::getuid());
        ::mkdir(folder.c_str(), 0700);
        struct stat st {};
        if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid() ||
            (st.st_mode & 022) != 0)
            return {};
        return folder;
    }

    int Unmount(const std::string& uri, bool force) override {
        StartQuietDaemon();
        const ContextScope scope;
        GFile* file = g_file_new_for_uri(uri.c_str());
        GMount* mount = g_file_find_enclosing_mount(file, nullptr, nullptr);
        g_object_unref(file);
        if (!mount)
            return kNetNotConnected;
        Wait w;
        w.context = scope.get();
        w.cancellable = g_cancellable_new();
        g_mount_unmount_with_operation(
            mount, force ? G_MOUNT_UNMOUNT_FORCE : G_MOUNT_UNMOUNT_NONE, nullptr, w.cancellable,
            [](GObject* source, GAsyncResult* result, gpointer data) {
                auto* wait = static_cast<Wait*>(data);
                g_mount_unmount_with_operation_finish(G_MOUNT(source), result, &wait->error);
                wait->done = true;
            },
            &w);
        WaitFor(w);
        int code = 0;
        if (w.error) {
            if (g_error_matches(w.error, G_IO_ERROR, G_IO_ERROR_BUSY))
                code = kNetDeviceInUse;
            else if (g_error_matches(w.error, G_IO_ERROR, G_IO_ERROR_NOT_MOUNTED))
                code = kNetNotConnected;
            else if (w.error->domain == G_IO_ERROR)
                code = kNetUnmappedBase + w.error->code;
            else
                code = kNetSpecificError;
        }
        g_clear_error(&w.error);
        g_object_unref(w.cancellable);
        g_object_unref(mount);
        return code;
    }
};

} // namespace

ShareMounter& GvfsMounter() {
    static Gvfs gvfs;
    return gvfs;
}

void SetMountPump(std::function<void()> pump) {
    const std::lock_guard lock(pumpMutex);
    mountPump = std::move(pump);
}

} // namespace duplora
