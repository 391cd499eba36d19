#pragma once
// The main window's controls, laid out at fixed pixel positions as the
// window was designed (96 dpi, client area 267 x 292). Only the layout and
// the pictures live here; Form1Window binds them to TForm1.
#include <QComboBox>
#include <QFont>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QString>
#include <QStyle>
#include <memory>
#include <QStyledItemDelegate>
#include <QWidget>

namespace keluflash {

inline constexpr int kClientWidth = 267;
inline constexpr int kClientHeight = 292;
inline constexpr int kWindowLeft = 400;
inline constexpr int kWindowTop = 166;
inline constexpr int kListItemHeight = 13;

// "MS Sans Serif" 8 pt where it is installed, else the closest sans-serif,
// 11 pixels high either way.
QFont WindowFont();

// A picture button's glyph: a 32x16 bitmap holding the normal image and the
// greyed one side by side; the bottom-left pixel's colour is transparent.
QIcon GlyphIcon(const QString& resource);

// The window's icon.
QIcon WindowIcon();

// The open dialog's filter "label|pattern|label|pattern" in Qt's form
// "label (pattern);;label (pattern)".
QString QtFileFilter(const QString& filter);

// List items 13 pixels high, as in the drive list and the message list.
class FixedHeightDelegate final : public QStyledItemDelegate {
public:
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// The controls, members of the window object: each child is declared after
// its parent, so it is destroyed (and leaves its parent) first.
struct Form1Widgets {
    explicit Form1Widgets(QWidget& window);

    FixedHeightDelegate itemHeight;  // outlives the views that use it
    std::unique_ptr<QStyle> style;   // outlives the widgets drawn with it
    QGroupBox groupBox1;
    QComboBox selDevice;
    QGroupBox groupBox2;
    QLineEdit edit1;
    QPushButton bitBtn1;
    QPushButton bitBtn2;
    QPushButton bitBtn3;
    QListWidget listBox1;
    QStatusBar statusBar1;
    QLabel statusPanel0;
    QProgressBar progressBar1;
};

}  // namespace keluflash
