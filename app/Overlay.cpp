#include "app/Overlay.h"

#include <GL/glew.h>

#include <QFont>
#include <QFontMetrics>
#include <QLocale>
#include <QPainter>

namespace
{

constexpr int kMargin = 8;
constexpr int kPadding = 6;

} // namespace

QString DescribeFrames(double framesPerSecond, const FrameSample& medians, int vertices,
                       size_t triangles, bool shadowsOn, const std::string& device, bool reference,
                       double raysPerFrame)
{
    QStringList lines;
    lines << QString("%1 fps%2")
                 .arg(framesPerSecond, 0, 'f', 1)
                 .arg(!shadowsOn  ? ", shadows off"
                      : reference ? ", per-pixel reference (P)"
                                  : "");
    for (const std::string& line :
         DescribeStages(medians, raysPerFrame > 0 ? raysPerFrame : double(vertices)))
    {
        lines << QString::fromStdString(line);
    }
    const QLocale locale(QLocale::English);
    lines << QString("%1 vertices, %2 triangles")
                 .arg(locale.toString(vertices), locale.toString(qulonglong(triangles)));
    // The device line names the device, then the path: one line each.
    lines << QString::fromStdString(device).split("; ");
    return lines.join('\n');
}

void Overlay::SetText(const QString& text)
{
    QFont font("monospace");
    font.setStyleHint(QFont::TypeWriter);
    font.setPixelSize(12);
    const QFontMetrics metrics(font);
    const QStringList lines = text.split('\n');
    int width = 0;
    for (const QString& line : lines)
    {
        width = std::max(width, metrics.horizontalAdvance(line));
    }
    const int lineHeight = metrics.lineSpacing();
    m_picture = QImage(width + 2 * kPadding, lineHeight * lines.size() + 2 * kPadding,
                       QImage::Format_ARGB32);
    m_picture.fill(QColor(0, 0, 0, 160));
    QPainter painter(&m_picture);
    painter.setFont(font);
    painter.setPen(Qt::white);
    for (int i = 0; i < lines.size(); ++i)
    {
        painter.drawText(kPadding, kPadding + i * lineHeight + metrics.ascent(), lines[i]);
    }
    painter.end();
    // OpenGL takes rows from the bottom up.
    m_picture = m_picture.mirrored();
}

void Overlay::Draw(int width, int height) const
{
    if (m_picture.isNull() || width <= kMargin || height <= kMargin)
    {
        return;
    }
    // Clipped to the viewport: glDrawPixels draws nothing when its start lies outside.
    const int shownWidth = std::min(m_picture.width(), width - kMargin);
    const int shownHeight = std::min(m_picture.height(), height - kMargin);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, m_picture.width());
    glPixelStorei(GL_UNPACK_SKIP_ROWS, m_picture.height() - shownHeight);
    glWindowPos2i(kMargin, height - kMargin - shownHeight);
    // ARGB32 is blue, green, red, alpha in memory on a little-endian machine.
    glDrawPixels(shownWidth, shownHeight, GL_BGRA, GL_UNSIGNED_BYTE, m_picture.constBits());
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glDisable(GL_BLEND);
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_DEPTH_TEST);
}
