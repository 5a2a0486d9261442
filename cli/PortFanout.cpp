#include "PortFanout.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <iostream>

#include "CliSupport.h"
#include "Report.h"

namespace cli {

namespace {

// This very program, whatever name or path it was started by.
constexpr const char* kSelf = "/proc/self/exe";
// How often the relay looks for signals to pass on when no output comes.
constexpr int kPollMs = 200;
constexpr int kExecFailed = 127;

std::atomic<int> g_sigints{0};
std::atomic<int> g_sigterms{0};

extern "C" void CountSignal(int signal) {
    (signal == SIGTERM ? g_sigterms : g_sigints).fetch_add(1);
}

void InstallCounters() {
    struct sigaction action {};
    action.sa_handler = CountSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

bool IsPortOption(const std::string& arg) {
    return arg == "-p" || arg == "--port";
}

bool IsPortOptionWithValue(const std::string& arg) {
    return (arg.size() > 2 && arg.rfind("-p", 0) == 0 && arg[2] != '-') ||
           arg.rfind("--port=", 0) == 0;
}

// One stream of a process, cut into lines.
struct Stream {
    int fd = -1;
    std::string pending;
};

struct Child {
    std::string port;
    pid_t pid = -1;
    Stream out, err;
    bool json_seen = false;
    int status = 0;
};

// Starts kSelf with argv in a process group of its own, so that Ctrl-C at the
// terminal reaches only the relay, which passes it on once; the process ends
// with the relay.
pid_t Spawn(const std::vector<std::string>& argv, int out_fd, int err_fd) {
    std::vector<char*> c_argv;
    for (const std::string& a : argv) c_argv.push_back(const_cast<char*>(a.c_str()));
    c_argv.push_back(nullptr);
    const pid_t relay = ::getpid();
    const pid_t pid = ::fork();
    if (pid != 0) return pid;
    ::setpgid(0, 0);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != relay) ::_exit(kExitFailure);
    const int null = ::open("/dev/null", O_RDONLY);
    if (null < 0 || ::dup2(null, STDIN_FILENO) < 0 || ::dup2(out_fd, STDOUT_FILENO) < 0 ||
        ::dup2(err_fd, STDERR_FILENO) < 0)
        ::_exit(kExitFailure);
    ::execv(kSelf, c_argv.data());
    ::_exit(kExecFailed);
}

void StartChild(Child& child, const FanoutRequest& request) {
    std::vector<std::string> argv{"zorvik", "--relayed"};
    argv.insert(argv.end(), request.extra.begin(), request.extra.end());
    argv.insert(argv.end(), {"-p", child.port});
    argv.insert(argv.end(), request.args.begin(), request.args.end());
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw Failure("Cannot start the run for " + child.port);
    if (::pipe2(err, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        throw Failure("Cannot start the run for " + child.port);
    }
    child.pid = Spawn(argv, out[1], err[1]);
    ::close(out[1]);
    ::close(err[1]);
    child.out.fd = out[0];
    child.err.fd = err[0];
    if (child.pid < 0) throw Failure("Cannot start the run for " + child.port);
}

void EmitLine(Child& child, bool is_stdout, bool json, const std::string& line) {
    if (is_stdout && json && !line.empty() && line.front() == '{') {
        child.json_seen = true;
        std::cout << line << '\n' << std::flush;
        return;
    }
    (is_stdout ? std::cout : std::cerr) << child.port << ": " << line << '\n' << std::flush;
}

// Reads what has come; false once the stream has ended (a last line without
// its line feed is relayed then).
bool Relay(Child& child, Stream& stream, bool is_stdout, bool json) {
    char buffer[4096];
    const ssize_t got = ::read(stream.fd, buffer, sizeof buffer);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) return true;
    if (got > 0) {
        stream.pending.append(buffer, static_cast<std::size_t>(got));
        std::size_t end;
        while ((end = stream.pending.find('\n')) != std::string::npos) {
            EmitLine(child, is_stdout, json, stream.pending.substr(0, end));
            stream.pending.erase(0, end + 1);
        }
        return true;
    }
    if (!stream.pending.empty()) EmitLine(child, is_stdout, json, stream.pending);
    stream.pending.clear();
    ::close(stream.fd);
    stream.fd = -1;
    return false;
}

void PassOnSignals(std::vector<Child>& children, int& sigints, int& sigterms) {
    const auto pass = [&](std::atomic<int>& received, int& passed, int signal) {
        for (; passed < received.load(); ++passed)
            for (const Child& c : children) ::kill(c.pid, signal);
    };
    pass(g_sigints, sigints, SIGINT);
    pass(g_sigterms, sigterms, SIGTERM);
}

void RelayUntilEnd(std::vector<Child>& children, bool json) {
    int sigints = 0, sigterms = 0;
    for (;;) {
        PassOnSignals(children, sigints, sigterms);
        std::vector<pollfd> fds;
        std::vector<std::pair<Child*, bool>> owners;
        for (Child& c : children)
            for (auto [stream, is_stdout] : {std::pair{&c.out, true}, std::pair{&c.err, false}})
                if (stream->fd >= 0) {
                    fds.push_back({stream->fd, POLLIN, 0});
                    owners.emplace_back(&c, is_stdout);
                }
        if (fds.empty()) return;
        if (::poll(fds.data(), fds.size(), kPollMs) <= 0) continue;
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].revents == 0) continue;
            auto [child, is_stdout] = owners[i];
            Relay(*child, is_stdout ? child->out : child->err, is_stdout, json);
        }
    }
}

std::string EndText(int status) {
    if (WIFSIGNALED(status)) return "ended by signal " + std::to_string(WTERMSIG(status));
    return "ended with exit status " + std::to_string(WEXITSTATUS(status)) + " without a result";
}

bool Succeeded(const Child& c) {
    return WIFEXITED(c.status) && WEXITSTATUS(c.status) == kExitOk;
}

int CallStatus(const std::vector<Child>& children) {
    bool all_ok = true, any_stopped = false;
    for (const Child& c : children) {
        all_ok = all_ok && Succeeded(c);
        const int code = WIFEXITED(c.status) ? WEXITSTATUS(c.status) : 0;
        any_stopped = any_stopped || code == kExitInterrupted || code == kExitTerminated;
    }
    if (all_ok) return kExitOk;
    if (any_stopped && g_sigterms.load() > 0) return kExitTerminated;
    if (any_stopped && g_sigints.load() > 0) return kExitInterrupted;
    return kExitFailure;
}

}  // namespace

std::vector<std::string> WithoutPortOptions(const std::vector<std::string>& args) {
    std::vector<std::string> kept;
    for (std::size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "--") {
            kept.insert(kept.end(), args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
            break;
        }
        if (IsPortOption(args[i])) {
            ++i;  // and its value
            continue;
        }
        if (!IsPortOptionWithValue(args[i])) kept.push_back(args[i]);
    }
    return kept;
}

int RunOnEachPort(const FanoutRequest& request) {
    InstallCounters();
    std::vector<Child> children;
    for (const std::string& port : request.ports) children.push_back({port, -1, {}, {}, false, 0});
    std::size_t started = 0;
    try {
        for (; started < children.size(); ++started) StartChild(children[started], request);
    } catch (const Failure& e) {
        std::cerr << "zorvik: " << e.what() << std::endl;
        for (std::size_t i = 0; i < started; ++i) ::kill(children[i].pid, SIGTERM);
    }
    children.resize(started);
    RelayUntilEnd(children, request.json);
    for (Child& c : children) {
        while (::waitpid(c.pid, &c.status, 0) < 0 && errno == EINTR) {
        }
        const bool ended_abnormally = !WIFEXITED(c.status) || WEXITSTATUS(c.status) == kExecFailed;
        if (ended_abnormally) std::cerr << c.port << ": zorvik: " << EndText(c.status) << std::endl;
        if (request.json && !c.json_seen)
            std::cout << JsonLine({{"port", c.port}, {"ok", false}, {"error", EndText(c.status)}})
                      << std::endl;
    }
    std::cout.flush();
    if (!std::cout) return kExitFailure;
    return started < request.ports.size() ? kExitFailure : CallStatus(children);
}

}  // namespace cli
