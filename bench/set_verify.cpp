// Round trips of "Set" on the simulated locator, which answers at once: from the click to the
// verdict, split at the moment the device receives the write command. Prints the median and
// the 99th percentile of each part over the rounds.
//
// Usage: bench_set_verify [rounds = 1000]

#include "Percentile.h"
#include "SimulatedWindow.h"

#include <QPushButton>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// Records when the verdict is given; answers nothing else.
class VerdictDialogs : public TDialogs {
public:
    Clock::time_point verdictAt;
    int verdicts = 0;
    std::string last;
    void ShowMessage(const std::string& text) override {
        verdictAt = Clock::now();
        last = text;
        ++verdicts;
    }
    Answer AskYesNo(const std::string&) override { return Answer::No; }
    void ShowError(const std::string&) override {}
    std::string AskSaveFileName(const std::string&) override { return {}; }
};

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

int main(int argc, char* argv[]) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 1000;
    QApplication application(argc, argv);
    VerdictDialogs dialogs;
    SimulatedWindow window(dialogs);
    std::atomic<std::int64_t> receivedAt{0};
    window.sim().setOutputObserver(window.locatorPath(), [&](const platform::Report&) {
        receivedAt = Clock::now().time_since_epoch().count();
    });
    if (!window.connect()) {
        std::fprintf(stderr, "the simulated locator did not connect\n");
        return 1;
    }
    TFormMain& form = window.form();

    std::vector<double> toDevice, toVerdict, total;
    for (int round = 0; round < rounds; ++round) {
        const int before = dialogs.verdicts;
        const auto clicked = Clock::now();
        form.btnSet->click();
        if (!waitFor([&] { return dialogs.verdicts > before; }, 5000)) {
            std::fprintf(stderr, "round %d: no verdict\n", round);
            return 1;
        }
        const auto received = Clock::time_point(Clock::duration(receivedAt.load()));
        toDevice.push_back(ms(received - clicked));
        toVerdict.push_back(ms(dialogs.verdictAt - received));
        total.push_back(ms(dialogs.verdictAt - clicked));
        if (dialogs.last != "Configuration has been set.")
            std::fprintf(stderr, "round %d: %s\n", round, dialogs.last.c_str());
    }
    std::printf("%d rounds of Set on a locator that answers at once\n", rounds);
    std::printf("click to device:   median %.3f ms, p99 %.3f ms\n", percentile(toDevice, 0.5),
                percentile(toDevice, 0.99));
    std::printf("device to verdict: median %.3f ms, p99 %.3f ms\n", percentile(toVerdict, 0.5),
                percentile(toVerdict, 0.99));
    std::printf("click to verdict:  median %.3f ms, p99 %.3f ms (target: median under 2 ms)\n",
                percentile(total, 0.5), percentile(total, 0.99));
    return percentile(total, 0.5) < 2.0 ? 0 : 1;
}
