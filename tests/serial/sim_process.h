// Runs klpsim as a child process for a test and stops it afterwards; every wait is bounded.
#pragma once
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

class SimProcess {
public:
    ~SimProcess() { Stop(); }

    // Starts klpsim with the arguments and reads the terminal path it prints.
    bool Start(const std::vector<std::string> &args)
    {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0)
            return false;
        std::vector<std::string> all = {KLPSIM_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char *> argv;
        for (std::string &a : all)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        const int rc = posix_spawn(&m_pid, KLPSIM_PATH, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (rc != 0) {
            m_pid = -1;
            close(out[0]);
            return false;
        }
        m_path = ReadLine(out[0], 5000);
        close(out[0]);
        return !m_path.empty();
    }

    // Stops it (SIGTERM, then SIGKILL after 5 s) and returns its exit status, or -1.
    int Stop()
    {
        if (m_pid <= 0)
            return m_status;
        kill(m_pid, SIGTERM);
        return Reap(5000);
    }

    // Waits up to ms for it to end by itself; its exit status, or -1 while it runs on.
    int WaitExit(int ms)
    {
        for (int waited = 0; m_pid > 0 && waited < ms; waited += 10) {
            if (TryReap())
                return m_status;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return m_pid > 0 ? -1 : m_status;
    }

    const std::string &path() const { return m_path; }

private:
    static std::string ReadLine(int fd, int timeoutMs)
    {
        std::string line;
        char c;
        pollfd p = {fd, POLLIN, 0};
        while (poll(&p, 1, timeoutMs) > 0 && read(fd, &c, 1) == 1) {
            if (c == '\n')
                return line;
            line += c;
        }
        return "";
    }

    bool TryReap()
    {
        int status = 0;
        if (waitpid(m_pid, &status, WNOHANG) != m_pid)
            return false;
        m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        m_pid = -1;
        return true;
    }

    int Reap(int ms)
    {
        if (WaitExit(ms) == -1 && m_pid > 0) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
        return m_status;
    }

    pid_t m_pid = -1;
    int m_status = -1;
    std::string m_path;
};
