// The cube scene: the six face pictures, the render state and the frame.
#pragma once

// Rotation angles in degrees about the x, y and z axes. They only grow: the
// frame spins y by half a degree, each key press adds one degree, and the
// frame sets an angle back to 0 once it is above 360.
extern float xRot;
extern float yRot;
extern float zRot;

// One texture name per face: front, back, top, bottom, right, left, made from
// "b1.jpg" ... "b6.jpg". 0 where a picture failed to load (that face is white).
extern unsigned int texture[6];

// One-time set-up after the window exists: texturing, the six textures and
// the render state. Returns 1 when every picture loaded, 0 otherwise.
int init();

// Draws one frame and advances the spin. Display and idle callback.
void display();
