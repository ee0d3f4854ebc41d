// Bringing a colour the screen can't show onto it, with its hue kept.
#pragma once

// Linear light in sRGB's primaries, any channel below 0 or above 1, brought
// onto the screen in Oklab (Björn Ottosson's, a space whose hue and
// lightness stay as its chroma changes): its lightness and hue kept, its
// chroma lessened as far as it must be (found within 1/256 by halving).
// Saturation yields, never hue.
void IntoGamut(float light[3]);

// Whether each channel is within 0 to 1.
bool OnScreen(const float light[3]);
