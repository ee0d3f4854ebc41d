// Which way the cube's faces look as the frame turns the cube: for the
// show (which face may take a new picture) and for animations (which face
// needs its next frame).
#pragma once

// A face is turned towards the eye where the eye's side of its plane is
// the front: where its normal, turned as the cube is, points towards the
// eye by more than 0.2 (the cube's half size over its distance, 1 / 5).
constexpr double kFaceInView = 0.2;

// How far face f's normal (front, back, top, bottom, right, left) points
// towards the eye, the cube turned by Rx(x) Ry(y) Rz(z) as the frame turns
// it.
double TowardsEye(int f, float x, float y, float z);
