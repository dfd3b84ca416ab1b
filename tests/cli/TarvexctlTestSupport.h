#pragma once
// tarvexctl run as a process, as scripts meet it: an environment, arguments, stdout, stderr and
// an exit status, on simulated devices described by a scenario file.

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace tarvexctl_test {

namespace fs = std::filesystem;

inline std::string slurp(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A tarvexctl process on the scenario; stdin is /dev/null, so it has no terminal.
class Tarvexctl {
public:
    Tarvexctl(const fs::path& dir, const std::string& scenario, std::vector<std::string> args)
        : out_(dir / ("out" + std::to_string(++serial_))),
          err_(dir / ("err" + std::to_string(serial_))) {
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setenv("TARVEX_HID_PLATFORM", ("sim:" + scenario).c_str(), 1);
            const int in = ::open("/dev/null", O_RDONLY);
            const int out = ::open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int err = ::open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            ::dup2(in, 0);
            ::dup2(out, 1);
            ::dup2(err, 2);
            std::vector<char*> argv{const_cast<char*>(TARVEXCTL)};
            for (std::string& arg : args)
                argv.push_back(arg.data());
            argv.push_back(nullptr);
            ::execv(TARVEXCTL, argv.data());
            ::_exit(127);
        }
    }
    // The exit status; -signal when a signal ended it.
    int wait() {
        if (!status_) {
            int status = 0;
            ::waitpid(pid_, &status, 0);
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        }
        return *status_;
    }
    // Nothing once the process has been waited for: its id may be another's by then.
    void signal(int number) {
        if (!status_)
            ::kill(pid_, number);
    }
    std::string out() const { return slurp(out_); }
    std::string err() const { return slurp(err_); }

private:
    static inline int serial_ = 0;
    fs::path out_, err_;
    pid_t pid_;
    std::optional<int> status_;
};

struct Result {
    int status;
    std::string out, err;
};

template <class Condition> bool eventually(Condition condition, int seconds = 20) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// Each test in a directory of its own, removed afterwards.
class TarvexctlTest : public testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("tarvexctl-test-" + std::to_string(::getpid()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string file(const std::string& name, const std::string& text) {
        std::ofstream(dir_ / name) << text;
        return (dir_ / name).string();
    }
    Result run(const std::string& scenario, std::vector<std::string> args) {
        Tarvexctl process(dir_, scenario, std::move(args));
        const int status = process.wait();
        return {status, process.out(), process.err()};
    }
    // The rows of a station log, header left out.
    std::vector<std::vector<std::string>> logRows(const std::string& log);

    fs::path dir_;
};

inline std::vector<std::vector<std::string>> TarvexctlTest::logRows(const std::string& log) {
    std::vector<std::vector<std::string>> rows;
    std::istringstream lines(slurp(log));
    std::string line;
    std::getline(lines, line); // header
    while (std::getline(lines, line)) {
        std::vector<std::string> fields(1);
        bool quoted = false;
        for (char c : line) {
            if (c == '"')
                quoted = !quoted;
            else if (c == ',' && !quoted)
                fields.emplace_back();
            else
                fields.back() += c;
        }
        rows.push_back(fields);
    }
    return rows;
}

} // namespace tarvexctl_test
