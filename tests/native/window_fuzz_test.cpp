// The window procedure under random messages with random parameters, from a fixed seed so a
// failure can be replayed. Half the messages are drawn near the ones with a policy of their
// own, so every row of the policy is met many times.
#include <random>

#include "program.h"

namespace {

struct drawn_message {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// Parameters are 32-bit, as in the 32-bit program; lParam is signed there.
struct message_source {
    std::mt19937 random{20260107};

    uint32_t any() { return random(); }
    uint32_t below(uint32_t n) { return random() % n; }

    drawn_message next()
    {
        // The policy's messages, WM_QUIT, and their neighbours: WM_CREATE, WM_MOVE, WM_PAINT,
        // WM_QUERYENDSESSION, key up, WM_CHAR, WM_SYSKEYDOWN, WM_NCDESTROY, WM_COMMAND,
        // WM_TIMER, WM_IME_NOTIFY and the other IME messages beside WM_IME_SETCONTEXT.
        static const UINT near_policy[] = {WM_DESTROY, WM_CLOSE, WM_KEYDOWN, WM_SYSCOMMAND, WM_IME_SETCONTEXT,
                                           WM_QUIT, 0x0001, 0x0003, 0x000F, 0x0011, 0x0101, 0x0102, 0x0104,
                                           0x0082, 0x0111, 0x0113, 0x0280, 0x0282};
        UINT message;
        switch (below(4)) {
        case 0:
        case 1: message = near_policy[below(sizeof near_policy / sizeof near_policy[0])]; break;
        case 2: message = below(0x10000); break;
        default: message = any(); break;
        }
        uint32_t wParam = any();
        if (message == WM_KEYDOWN && below(3) == 0)
            wParam = below(2) ? VK_ESCAPE : VK_ESCAPE | (any() & ~0xFFu);
        if (message == WM_SYSCOMMAND && below(2) == 0)
            wParam = (below(2) ? SC_MONITORPOWER : SC_SCREENSAVE) | below(16) | (below(4) ? 0 : any() & ~0xFFFFu);
        return {message, WPARAM(wParam), LPARAM(int32_t(any()))};
    }
};

std::string default_processing(const drawn_message& m, LPARAM lParam)
{
    char text[128];
    snprintf(text, sizeof text, "DefWindowProcA(window, 0x%x, 0x%lx, 0x%lx)", m.message, (unsigned long)m.wParam,
             (unsigned long)lParam);
    return text;
}

// The documented policy: what reaches the platform, and what comes back.
struct outcome {
    std::vector<std::string> calls;
    LRESULT result;
};

outcome policy(const drawn_message& m)
{
    const LRESULT passed_on = standin_script().default_result;
    switch (m.message) {
    case WM_DESTROY:
    case WM_CLOSE:
        return {{"PostQuitMessage(0)"}, 0};
    case WM_KEYDOWN:
        if (m.wParam == VK_ESCAPE)
            return {{"PostQuitMessage(0)", default_processing(m, m.lParam)}, passed_on};
        break;
    case WM_SYSCOMMAND:
        if ((m.wParam & 0xFFF0) == 0xF170 || (m.wParam & 0xFFF0) == 0xF140)
            return {{}, 0};
        break;
    case WM_IME_SETCONTEXT:
        return {{default_processing(m, m.lParam & 0x3FFFFFF0)}, passed_on};
    }
    return {{default_processing(m, m.lParam)}, passed_on};
}

struct window_fuzz : program_test {};

TEST_F(window_fuzz, two_hundred_thousand_random_messages_follow_the_policy)
{
    message_source source;
    int quits = 0, swallowed = 0, masked = 0, escapes = 0;
    for (int i = 0; i < 200000; ++i) {
        drawn_message m = source.next();
        outcome expected = policy(m);
        standin().calls.clear();
        LRESULT result = window_proc(standin_window, m.message, m.wParam, m.lParam);
        ASSERT_EQ(standin().calls, expected.calls) << "message " << i;
        ASSERT_EQ(result, expected.result) << "message " << i;
        quits += !expected.calls.empty() && expected.calls[0] == "PostQuitMessage(0)";
        swallowed += expected.calls.empty();
        masked += m.message == WM_IME_SETCONTEXT && (m.lParam & ~LPARAM(0x3FFFFFF0)) != 0;
        escapes += m.message == WM_KEYDOWN && m.wParam == VK_ESCAPE;
    }
    // The draw meets every special row often, so the comparisons above cover them.
    EXPECT_GT(escapes, 500);
    EXPECT_GT(quits, 5000);
    EXPECT_GT(swallowed, 1000);
    EXPECT_GT(masked, 2000);
}

// Through the main loop: every random message queued is dispatched; the run goes on while
// none of them asked to quit, and ends after one frame when one did.
TEST_F(window_fuzz, the_main_loop_dispatches_everything_and_quits_only_when_asked)
{
    message_source source;
    int runs_without_quit = 0;
    for (int run = 0; run < 200; ++run) {
        program_test::SetUp();
        standin().script.idle_peeks_before_quit = 3;
        size_t queued = 1 + source.below(24), quits = 0;
        for (size_t i = 0; i < queued; ++i) {
            drawn_message m = source.next();
            if (m.message == WM_QUIT)
                m.message = 0;  // WM_NULL
            standin().script.messages.push_back(message_to_window(m.message, m.wParam, m.lParam));
            const std::vector<std::string> calls = policy(m).calls;
            quits += !calls.empty() && calls[0] == "PostQuitMessage(0)";
        }
        runs_without_quit += quits == 0;
        std::string printed;
        ASSERT_EQ(run_main(&printed), 0) << "run " << run;
        ASSERT_EQ(standin_calls("DispatchMessageA").size(), queued) << "run " << run;
        ASSERT_EQ(standin_calls("PostQuitMessage").size(), quits) << "run " << run;
        ASSERT_EQ(standin_calls("device->Present").size(), quits ? 1u : 3u) << "run " << run;
        ASSERT_THAT(standin().faults, ::testing::IsEmpty()) << "run " << run;
    }
    EXPECT_GT(runs_without_quit, 10);
    EXPECT_LT(runs_without_quit, 190);
}

}  // namespace
