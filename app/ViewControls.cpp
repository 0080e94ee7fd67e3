#include "app/ViewControls.h"

#include "app/Camera.h"
#include "scene/VectorMath.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace
{

// The demo's camera: its distance from the target and its angle above the horizontal.
const float kRise = kCameraHeight - kCameraTarget.y;
const float kDefaultDistance = std::sqrt(kCameraOrbitRadius * kCameraOrbitRadius + kRise * kRise);
const float kDefaultPitch = std::atan2(kRise, kCameraOrbitRadius);
// Radians per pixel of drag.
constexpr float kDragRate = 0.01f;
// Short of straight down or up, where the view's up direction would be lost.
constexpr float kMaxPitch = 1.5f;

} // namespace

bool ViewControls::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type())
    {
    case QEvent::KeyPress:
    {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->isAutoRepeat())
        {
            break;
        }
        switch (key->key())
        {
        case Qt::Key_Space:
            m_paused = !m_paused;
            return true;
        case Qt::Key_S:
            m_shadows = !m_shadows;
            return true;
        case Qt::Key_P:
            m_reference = !m_reference;
            return true;
        case Qt::Key_R:
            m_refine = !m_refine;
            return true;
        case Qt::Key_H:
            m_overlay = !m_overlay;
            return true;
        case Qt::Key_F12:
            m_screenshot = true;
            return true;
        default:
            break;
        }
        break;
    }
    case QEvent::MouseButtonPress:
    {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton || mouse->button() == Qt::RightButton)
        {
            m_dragButton = mouse->button();
            m_lastMouse = mouse->pos();
            return true;
        }
        break;
    }
    case QEvent::MouseButtonRelease:
        if (static_cast<QMouseEvent*>(event)->button() == m_dragButton)
        {
            m_dragButton = Qt::NoButton;
            return true;
        }
        break;
    case QEvent::MouseMove:
    {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (m_dragButton == Qt::NoButton)
        {
            break;
        }
        const QPoint delta = mouse->pos() - m_lastMouse;
        m_lastMouse = mouse->pos();
        if (m_dragButton == Qt::LeftButton)
        {
            m_cameraMoved = true;
            m_yaw += delta.x() * kDragRate;
            m_pitch = std::clamp(m_pitch + delta.y() * kDragRate, -kMaxPitch - kDefaultPitch,
                                 kMaxPitch - kDefaultPitch);
        }
        else
        {
            m_lightTurn += delta.x() * kDragRate;
        }
        return true;
    }
    case QEvent::Wheel:
    {
        // One notch (120) brings the camera about an eighth closer.
        const int steps = static_cast<QWheelEvent*>(event)->angleDelta().y();
        m_cameraMoved = true;
        m_zoom = std::clamp(m_zoom * std::pow(0.999f, static_cast<float>(steps)), 0.2f, 5.0f);
        return true;
    }
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

ViewControls::View ViewControls::Advance(float frameSeconds)
{
    if (!m_paused)
    {
        m_angle += frameSeconds * 0.5f;
    }
    View view;
    view.target = kCameraTarget;
    view.light = LightDirection(m_angle + m_lightTurn);
    if (!m_cameraMoved)
    {
        view.eye = CameraPosition(m_angle);
        return view;
    }
    // The demo's orbit (at half the light's angle, starting on -x), turned, tilted and
    // moved closer or farther by the user.
    const float heading = m_angle * 0.5f + m_yaw;
    const float pitch = kDefaultPitch + m_pitch;
    const float distance = kDefaultDistance * m_zoom;
    view.eye = kCameraTarget + Float3{-std::cos(heading) * std::cos(pitch), std::sin(pitch),
                                      std::sin(heading) * std::cos(pitch)} *
                                   distance;
    return view;
}

bool ViewControls::TakeScreenshotRequest()
{
    const bool requested = m_screenshot;
    m_screenshot = false;
    return requested;
}
