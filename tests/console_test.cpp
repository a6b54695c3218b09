#include <gtest/gtest.h>

#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <sstream>
#include <thread>

#include "bench/console.hpp"

TEST(WaitForKey, ReturnsAtOnceWithoutATerminal) {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    std::ostringstream out;
    wait_for_key(out, fds[0]); // nothing will ever be written to the pipe: a wait would hang
    EXPECT_EQ(out.str(), "");
    close(fds[0]);
    close(fds[1]);
}

TEST(WaitForKey, TakesOneKeyWithoutEnterAndRestoresTheTerminal) {
    int master = -1;
    int slave = -1;
    ASSERT_EQ(openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
    termios before{};
    ASSERT_EQ(tcgetattr(slave, &before), 0);
    ASSERT_TRUE(before.c_lflag & ICANON);

    std::thread typist([master] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const char key = 'q'; // no newline: canonical mode would never deliver it
        EXPECT_EQ(write(master, &key, 1), 1);
    });
    std::ostringstream out;
    wait_for_key(out, slave);
    typist.join();

    EXPECT_EQ(out.str(), "Press any key to continue . . .\n");
    termios after{};
    ASSERT_EQ(tcgetattr(slave, &after), 0);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cc[VMIN], before.c_cc[VMIN]);
    close(master);
    close(slave);
}

TEST(Console, ClearsOnlyATerminal) {
    std::ostringstream tty;
    console{tty, true}.clear();
    EXPECT_EQ(tty.str(), "\x1b[H\x1b[2J");

    std::ostringstream pipe_out;
    console{pipe_out, false}.clear();
    EXPECT_EQ(pipe_out.str(), "");
}
