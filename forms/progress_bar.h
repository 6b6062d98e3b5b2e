// A progress bar over the common-controls progress bar, with Min, Max and
// Value as 32-bit floats.
//
// Its rules:
// - Min must stay below Max: a write of Min or Max that would leave the
//   range empty or reversed, or that is not a finite number, raises error 380
//   and changes nothing.
// - A range change pulls Value into the new range (a full bar restarted on a
//   smaller range stands at its new Max until Value is written).
// - Value must lie within Min..Max: any other value raises error 380 and
//   changes nothing.
// - The native control works in whole pixels of the bar's width, and is told
//   only when the pixel that the fill reaches changes, and then at most once
//   a screen frame, except that an empty or a full bar is shown at once:
//   thousands of writes cost no more than the frames they fill.
#pragma once

#include "forms/form.h"

namespace forms {

// The three properties of a progress bar, as the code that drives one sees them.
class ProgressBarProperties {
public:
    virtual float Min() const = 0;
    virtual float Max() const = 0;
    virtual float Value() const = 0;
    virtual void SetMin(float min) = 0;
    virtual void SetMax(float max) = 0;
    virtual void SetValue(float value) = 0;

protected:
    ~ProgressBarProperties() = default;
};

class ProgressBar final : public Control, public ProgressBarProperties {
public:
    ProgressBar(Form& form, TwipsRect place);

    float Min() const override { return min_; }
    float Max() const override { return max_; }
    float Value() const override { return value_; }
    void SetMin(float min) override;
    void SetMax(float max) override;
    void SetValue(float value) override;

    // The position shown by the native control, 0 to Steps().
    int ShownPosition() const { return shown_; }
    int Steps() const { return steps_; }

private:
    HWND Create(HWND parent, int id) override;
    void SetRange(float min, float max);
    int Position() const;
    void Show();

    float min_ = 0.0f;
    float max_ = 100.0f;
    float value_ = 0.0f;
    int steps_ = 1;
    int shown_ = 0;
    unsigned long lastShown_ = 0;
    static constexpr unsigned long kFrameMilliseconds = 16;
};

}  // namespace forms
