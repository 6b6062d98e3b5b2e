#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "installer/frm_instalador.h"
#include "tests/support/bar_form.h"
#include "resources/resource.h"
#include "forms/progress_bar.h"
#include "tests/unit/error_matchers.h"

namespace {

using testing_support::BarForm;

// Passes every access on to a real bar and notes each write.
class RecordingBar final : public forms::ProgressBarProperties {
public:
    explicit RecordingBar(forms::ProgressBar& bar) : bar_(bar) {}
    float Min() const override { return bar_.Min(); }
    float Max() const override { return bar_.Max(); }
    float Value() const override {
        ++valueReads;
        return bar_.Value();
    }
    void SetMin(float min) override {
        writes.push_back("Min=" + Format(min));
        bar_.SetMin(min);
    }
    void SetMax(float max) override {
        writes.push_back("Max=" + Format(max));
        bar_.SetMax(max);
    }
    void SetValue(float value) override {
        values.push_back(value);
        writes.push_back("Value=" + Format(value));
        bar_.SetValue(value);
    }

    std::vector<std::string> writes;
    std::vector<float> values;
    mutable int valueReads = 0;

private:
    static std::string Format(float value) { return std::to_string(static_cast<long long>(value)); }
    forms::ProgressBar& bar_;
};

// Counts what the native control is told.
int positionMessages = 0;
WNDPROC nativeProc = nullptr;
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PBM_SETPOS) ++positionMessages;
    return CallWindowProcW(nativeProc, window, message, wParam, lParam);
}

class ProgressHelpers : public testing::Test {
protected:
    void SetUp() override {
        form.Load();
        form.bar.SetMax(10000.0f);
        form.bar.SetMin(0.0f);
        form.bar.SetValue(0.0f);
    }
    void Set(float min, float max, float value) {
        form.bar.SetMin(-1e9f);
        form.bar.SetMax(max);
        form.bar.SetMin(min);
        form.bar.SetValue(value);
    }
    BarForm form;
    RecordingBar recorded{form.bar};
    FrmInstalador& helpers = FrmInstalador::Instance();
};

std::vector<float> Range(int from, int to) {
    std::vector<float> values;
    for (int v = from; v <= to; ++v) values.push_back(static_cast<float>(v));
    return values;
}

}  // namespace

TEST_F(ProgressHelpers, IniciarWritesMinThenMaxThenValue) {
    Set(0, 10000, 10000);
    helpers.IniciarProgressBar(recorded, 0, 25, 0);
    EXPECT_EQ((std::vector<std::string>{"Min=0", "Max=25", "Value=0"}), recorded.writes);
    EXPECT_EQ(0.0f, form.bar.Min());
    EXPECT_EQ(25.0f, form.bar.Max());
    EXPECT_EQ(0.0f, form.bar.Value());
}

TEST_F(ProgressHelpers, FinalizarStepsOneUnitAtATimeUpToMax) {
    const struct {
        float min, max, value;
        std::vector<float> expected;
    } cases[] = {
        {0, 10000, 0, Range(1, 10000)},
        {0, 7, 3, {4, 5, 6, 7}},
        {0, 7, 7, {}},
        {-5, 0, 0, {}},
        {-3, 2, -3, {-2, -1, 0, 1, 2}},
    };
    for (const auto& c : cases) {
        Set(c.min, c.max, c.value);
        recorded.values.clear();
        recorded.valueReads = 0;
        helpers.FinalizarProgressBar(recorded);
        EXPECT_EQ(c.expected, recorded.values) << "from " << c.value << " to " << c.max;
        EXPECT_EQ(c.max, form.bar.Value());
        EXPECT_EQ(static_cast<int>(c.expected.size()) + 1, recorded.valueReads) << "one read of Value per turn";
    }
}

TEST_F(ProgressHelpers, FinalizarCounterBeyondThe32BitRangeOverflows) {
    Set(0, 3e9f, 0);
    EXPECT_RUNTIME_ERROR(helpers.FinalizarProgressBar(recorded), 6);
    EXPECT_TRUE(recorded.values.empty());
}

TEST_F(ProgressHelpers, IncrementarAddsAndSubtracts) {
    Set(0, 10, 5);
    helpers.IncrementarProgressBar(recorded, 3);
    EXPECT_EQ(8.0f, form.bar.Value());
    Set(0, 10, 5);
    helpers.IncrementarProgressBar(recorded, -2);
    EXPECT_EQ(3.0f, form.bar.Value());
    EXPECT_EQ((std::vector<float>{8, 3}), recorded.values);
}

TEST_F(ProgressHelpers, IncrementarPastTheRangeIsRefusedByTheBar) {
    Set(0, 10000, 9999);
    EXPECT_RUNTIME_ERROR(helpers.IncrementarProgressBar(recorded, 2), 380);
    EXPECT_EQ(9999.0f, form.bar.Value());
    EXPECT_RUNTIME_ERROR(helpers.IncrementarProgressBar(recorded, -10000), 380);
    EXPECT_RUNTIME_ERROR(helpers.IncrementarProgressBar(recorded, 32767), 380);
}

TEST(ProgressBarRules, RangeMustNotBeEmptyAndValueMustFit) {
    BarForm form;
    forms::ProgressBar& bar = form.bar;
    bar.SetMax(10000.0f);
    bar.SetValue(10000.0f);
    // A full bar restarted on a smaller range: Min, Max below Value, then Value.
    bar.SetMin(0.0f);
    bar.SetMax(3.0f);
    EXPECT_EQ(3.0f, bar.Value()) << "Value is pulled into the new range";
    bar.SetValue(0.0f);

    EXPECT_RUNTIME_ERROR(bar.SetMax(0.0f), 380);
    EXPECT_RUNTIME_ERROR(bar.SetMax(-1.0f), 380);
    EXPECT_RUNTIME_ERROR(bar.SetMin(3.0f), 380);
    EXPECT_RUNTIME_ERROR(bar.SetValue(3.5f), 380);
    EXPECT_RUNTIME_ERROR(bar.SetValue(-0.5f), 380);
    EXPECT_RUNTIME_ERROR(bar.SetValue(std::numeric_limits<float>::quiet_NaN()), 380);
    EXPECT_RUNTIME_ERROR(bar.SetMax(std::numeric_limits<float>::infinity()), 380);
    EXPECT_EQ(0.0f, bar.Min());
    EXPECT_EQ(3.0f, bar.Max());
    EXPECT_EQ(0.0f, bar.Value()) << "refused writes change nothing";
}

TEST(ProgressBarRules, NativeControlIsToldOnlyWhenTheFillMoves) {
    BarForm form;
    form.Show();
    forms::ProgressBar& bar = form.bar;
    bar.SetMax(10000.0f);
    nativeProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrW(bar.Hwnd(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingProc)));
    positionMessages = 0;
    for (int v = 1; v <= 10000; ++v) bar.SetValue(static_cast<float>(v));
    EXPECT_EQ(297, bar.Steps());
    EXPECT_LE(positionMessages, bar.Steps()) << "at most one message per pixel of the bar's width";
    EXPECT_GE(positionMessages, 1);
    EXPECT_EQ(bar.Steps(), SendMessageW(bar.Hwnd(), PBM_GETPOS, 0, 0)) << "a full bar shows full at once";

    // Writes a frame apart each show their pixel; a write that moves no pixel is not passed on.
    positionMessages = 0;
    for (const float value : {100.0f, 2000.0f, 2001.0f, 5000.0f}) {
        Sleep(40);
        bar.SetValue(value);
    }
    EXPECT_EQ(3, positionMessages);
    EXPECT_EQ(static_cast<LRESULT>(5000 * 297 / 10000), SendMessageW(bar.Hwnd(), PBM_GETPOS, 0, 0));
    bar.SetValue(0.0f);
    EXPECT_EQ(0, SendMessageW(bar.Hwnd(), PBM_GETPOS, 0, 0)) << "an empty bar shows empty at once";
    SetWindowLongPtrW(bar.Hwnd(), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(nativeProc));
}
