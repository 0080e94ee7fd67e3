#pragma once
// Camera arithmetic of the frame: a right-handed look-at view, the fixed perspective
// projection, and where the camera and the light are at a given light angle. Single
// precision throughout, as the GPU sees it.
#include "scene/Framing.h"
#include "scene/VectorMath.h"

// View matrix looking from eye toward target; the camera looks along its own -z with
// y up. Eye equal to target, or a view direction parallel to up, gives non-finite
// elements: callers never ask for that.
Mat4 LookAt(const Float3& eye, const Float3& target, const Float3& up);

// Where a frame is seen from and lit from.
struct CameraView
{
    Float3 eye;
    Float3 target;
    // The unit direction the light shines in.
    Float3 light;
};

// 45 degree vertical field of view, near plane 0.1, far plane 1000, OpenGL clip
// depth from -w to w; aspect is width / height.
Mat4 Perspective(float aspect);

// The demo's camera looks at the centre of the frame scenes are placed in.
constexpr Float3 kCameraTarget = kFrameCentre;
// The camera's orbit about the vertical through the target.
constexpr float kCameraOrbitRadius = 15.0f;
constexpr float kCameraHeight = 10.0f;

// The camera orbits at half the light's angle: radius kCameraOrbitRadius, height
// kCameraHeight.
Float3 CameraPosition(float lightAngle);

// Unit direction the light shines in, 45 degrees down, turning with the angle.
Float3 LightDirection(float lightAngle);
