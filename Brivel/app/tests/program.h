// The brivel program as a child process of a test, on a data folder of the test's.
//
// The child runs with `--data-dir DIR --port 0` and the test's further arguments. Its
// standard error is read all the time by a thread of the object (so that a talkative child
// never blocks on a full pipe), and its first line of standard output is the page's address,
// which the constructor waits for (at most 60 s) unless the output is held: then the pipe is
// full before the child starts, and the child stops at its first line of output (its address),
// before its main loop ever turns. Every wait is bounded; the destructor kills a child still running.
//
//   Program program(dir, {"-TELDebugEnabled"});
//   ASSERT_TRUE(program.page());
//   std::string err;
//   EXPECT_EQ(program.stop(err), 0) << err;
#pragma once

#include <fcntl.h>
#include <httplib.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace brivel::app {

class Program {
 public:
  enum class Output { Read, Held };

  explicit Program(const std::filesystem::path& dataDirectory, std::vector<std::string> extraArguments = {},
                   Output output = Output::Read) {
    std::vector<std::string> arguments{BRIVEL_PROGRAM, "--data-dir", dataDirectory.string(), "--port", "0"};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    int out[2], err[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    if (pipe2(err, O_CLOEXEC) != 0) {
      close(out[0]);
      close(out[1]);
      return;
    }
    if (output == Output::Held) fill(out[1]);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      dup2(err[1], 2);
      execv(BRIVEL_PROGRAM, argv.data());
      _exit(127);
    }
    close(out[1]);
    close(err[1]);
    out_ = out[0];
    err_ = err[0];
    reader_ = std::thread([this] { readErrors(); });
    if (output == Output::Read) address_ = readLine(std::chrono::seconds(60));  // ASan makes the start slow
  }
  ~Program() {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) reader_.join();
    if (out_ >= 0) close(out_);
    if (err_ >= 0) close(err_);
  }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  const std::string& address() const { return address_; }
  pid_t pid() const { return pid_; }
  int port() const { return std::stoi(address_.substr(address_.rfind(':') + 1)); }
  std::string secret() const { return address_.substr(address_.find("?secret=") + 8); }

  // Opens the printed address as a browser would, and answers the page.
  std::optional<std::string> page() const {
    if (address_.empty()) return std::nullopt;
    httplib::Client client("127.0.0.1", port());
    client.set_read_timeout(30, 0);
    // The printed address answers with the page and sets the cookie that opens it later.
    auto opened = client.Get(("/?secret=" + secret()).c_str());
    if (!opened || opened->status != 200) return std::nullopt;
    std::string cookie = opened->get_header_value("Set-Cookie");
    if (cookie.empty()) return std::nullopt;
    auto page = client.Get("/", {{"Cookie", cookie.substr(0, cookie.find(';'))}});
    if (!page || page->status != 200) return std::nullopt;
    return page->body;
  }

  // What it wrote to standard error so far.
  std::string errors() const {
    std::lock_guard lock(mutex_);
    return errors_;
  }
  // Waits until its standard error holds `text`; false after `timeout` or once it ended without.
  bool waitForErrors(std::string_view text, std::chrono::milliseconds timeout) const {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      {
        std::lock_guard lock(mutex_);
        if (errors_.find(text) != std::string::npos) return true;
        if (errorsClosed_) return false;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // Waits until its main thread is blocked writing to its held standard output (the kernel
  // names the wait, or the write call to descriptor 1 is under way); false after `timeout`.
  bool waitUntilBlockedOnOutput(std::chrono::milliseconds timeout) const {
    const std::string task = "/proc/" + std::to_string(pid_) + "/task/" + std::to_string(pid_) + "/";
    auto firstLine = [](const std::string& path) {
      std::ifstream in(path);
      std::string line;
      std::getline(in, line);
      return line;
    };
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      if (firstLine(task + "wchan") == "pipe_write" || firstLine(task + "syscall").starts_with("1 0x1 ")) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // Sends `signal` and waits for the end: its wait status, or std::nullopt when it still runs
  // after `timeout`.
  std::optional<int> signalAndWait(int signal, std::chrono::milliseconds timeout) {
    kill(pid_, signal);
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!status_ && std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = status;
      } else {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    }
    if (status_ && reader_.joinable()) reader_.join();
    return status_;
  }

  // Ends it with SIGTERM (SIGKILL when it has not ended after 60 s); its exit code, or 128 plus
  // the signal that ended it, and what it wrote to stderr.
  int stop(std::string& stderrText) {
    std::optional<int> status = signalAndWait(SIGTERM, std::chrono::seconds(60));
    if (!status) status = signalAndWait(SIGKILL, std::chrono::seconds(10));
    stderrText = errors();
    if (!status) return -1;
    return WIFEXITED(*status) ? WEXITSTATUS(*status) : 128 + WTERMSIG(*status);
  }

 private:
  // Fills a pipe to the brim, so that the next write to it blocks.
  static void fill(int descriptor) {
    const int flags = fcntl(descriptor, F_GETFL);
    fcntl(descriptor, F_SETFL, flags | O_NONBLOCK);
    const std::string chunk(4096, '.');
    while (write(descriptor, chunk.data(), chunk.size()) > 0) {
    }
    while (write(descriptor, chunk.data(), 1) > 0) {
    }
    fcntl(descriptor, F_SETFL, flags);
  }

  std::string readLine(std::chrono::milliseconds timeout) const {
    std::string line;
    pollfd descriptor{out_, POLLIN, 0};
    char c;
    while (poll(&descriptor, 1, static_cast<int>(timeout.count())) > 0 && read(out_, &c, 1) == 1 && c != '\n') {
      line += c;
    }
    return line;
  }

  void readErrors() {
    char buffer[4096];
    ssize_t n;
    while ((n = read(err_, buffer, sizeof buffer)) > 0) {
      std::lock_guard lock(mutex_);
      errors_.append(buffer, static_cast<size_t>(n));
    }
    std::lock_guard lock(mutex_);
    errorsClosed_ = true;
  }

  pid_t pid_ = -1;
  int out_ = -1, err_ = -1;
  std::optional<int> status_;
  std::string address_;
  std::thread reader_;
  mutable std::mutex mutex_;
  std::string errors_;
  bool errorsClosed_ = false;
};

}  // namespace brivel::app
