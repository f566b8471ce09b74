#include "framework/qt/dlu_mapper.h"

#include <QFontMetrics>
#include <cstdlib>

namespace pw::qt {

int MulDiv(int a, int b, int c) {
    long long p = static_cast<long long>(a) * b;
    long long q = (std::llabs(p) + c / 2) / c;
    return static_cast<int>(p < 0 ? -q : q);
}

DluMapper::DluMapper(const QFont& font) {
    QFontMetrics fm(font);
    // The average width of the 52 letters, as Windows computes dialog base units.
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    m_baseX = (fm.horizontalAdvance(letters) / 26 + 1) / 2;
    m_baseY = fm.height();
}

int DluMapper::X(int dlu) const {
    return MulDiv(dlu, m_baseX, 4);
}
int DluMapper::Y(int dlu) const {
    return MulDiv(dlu, m_baseY, 8);
}
QRect DluMapper::Rect(int x, int y, int cx, int cy) const {
    return QRect(X(x), Y(y), X(cx), Y(cy));
}

QFont DluMapper::PinnedFont() {
    QFont f(QStringLiteral("DejaVu Sans"));
    f.setPixelSize(11);
    f.setStyleHint(QFont::SansSerif);
    return f;
}

} // namespace pw::qt
