#pragma once

// One step of a window fade. The opacity is held in single precision, as the window
// stores it: while it is above 0 it drops by 0.2 and the step answers false; once it is
// 0 or below the step answers true and the caller closes the window. From 1.0 rounding
// leaves a small positive value after five steps, so the seventh step closes.
inline bool fadeStep(float &opacity)
{
    if (opacity > 0.0f) {
        opacity = static_cast<float>(static_cast<double>(opacity) - 0.2);
        return false;
    }
    return true;
}

// Seconds between fade steps.
inline constexpr int kIntroFadeIntervalMs = 70;
inline constexpr int kCloseFadeIntervalMs = 50;
