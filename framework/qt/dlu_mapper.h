// Dialog units to pixels from one pinned font: x * baseX / 4 and y * baseY / 8, rounded like MulDiv.
#pragma once

#include <QFont>
#include <QRect>

namespace pw::qt {

class DluMapper {
  public:
    explicit DluMapper(const QFont& font);
    int X(int dlu) const;
    int Y(int dlu) const;
    QRect Rect(int x, int y, int cx, int cy) const;
    int BaseX() const { return m_baseX; }
    int BaseY() const { return m_baseY; }

    // The one font every dialog is laid out in: DejaVu Sans at 11 pixels.
    static QFont PinnedFont();

  private:
    int m_baseX;
    int m_baseY;
};

// MulDiv: a * b / c rounded half away from zero.
int MulDiv(int a, int b, int c);

} // namespace pw::qt
