#pragma once
// What the user can do in the window: Space pauses and resumes the light and the
// camera; a left drag orbits the camera, the wheel moves it closer or farther, a right
// drag turns the light; S switches the shadows off and on; P switches between the
// per-vertex shadows and the per-pixel reference; R switches the refinement where the
// shadows fall on and off; H shows or hides the overlay; F12 asks
// for a screenshot.
//
// Until the user moves anything, the camera and the light are exactly the demo's own
// (CameraPosition and LightDirection of the turning angle), to the bit.
#include "app/Camera.h"

#include <QObject>
#include <QPoint>

class QEvent;

class ViewControls : public QObject
{
public:
    // Install it on the window, which receives the keys, and on the view, which
    // receives the mouse. Events it acts on are consumed.
    bool eventFilter(QObject* watched, QEvent* event) override;

    using View = CameraView;

    // Advances the turning by frameSeconds unless paused (half a radian per second for
    // the light, half that for the camera) and gives this frame's camera and light.
    View Advance(float frameSeconds);

    bool Paused() const { return m_paused; }
    bool ShadowsOn() const { return m_shadows; }
    // The per-pixel reference instead of the per-vertex shadows.
    bool ReferenceOn() const { return m_reference; }
    void SetReference(bool on) { m_reference = on; }
    // The refinement where the shadows fall.
    bool RefineOn() const { return m_refine; }
    void SetRefine(bool on) { m_refine = on; }
    bool OverlayShown() const { return m_overlay; }
    // True once after each F12.
    bool TakeScreenshotRequest();

private:
    float m_angle = 0.0f;
    bool m_paused = false;
    bool m_shadows = true;
    bool m_reference = false;
    bool m_refine = false;
    bool m_overlay = false;
    bool m_screenshot = false;

    // The user's changes to the camera's orbit and the light's heading.
    bool m_cameraMoved = false;
    float m_yaw = 0.0f;
    float m_pitch = 0.0f;
    float m_zoom = 1.0f;
    float m_lightTurn = 0.0f;

    Qt::MouseButton m_dragButton = Qt::NoButton;
    QPoint m_lastMouse;
};
