#include "app/qt/form1_widgets.h"

#include <QDir>
#include <QFontDatabase>
#include <QImage>
#include <QPalette>
#include <QPixmap>
#include <QStringList>
#include <QStyleFactory>

namespace keluflash {

QFont WindowFont() {
    // Arial's metrics are the nearest to MS Sans Serif among common fonts;
    // Liberation Sans shares them.
    static const char* const kFamilies[] = {"MS Sans Serif", "Microsoft Sans Serif", "Arial", "Liberation Sans"};
    QFont font;
    font.setStyleHint(QFont::SansSerif);
    for (const char* family : kFamilies) {
        if (QFontDatabase::hasFamily(QString::fromLatin1(family))) {
            font.setFamily(QString::fromLatin1(family));
            break;
        }
    }
    font.setPixelSize(11);
    font.setWeight(QFont::Normal);
    font.setItalic(false);
    return font;
}

namespace {

QPixmap TransparentPixmap(const QImage& glyph, QColor transparent) {
    QImage image = glyph.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y) == transparent) {
                image.setPixelColor(x, y, Qt::transparent);
            }
        }
    }
    return QPixmap::fromImage(image);
}

}  // namespace

QIcon GlyphIcon(const QString& resource) {
    const QImage both(resource);
    QIcon icon;
    if (both.isNull()) {
        return icon;
    }
    const QColor transparent = both.pixelColor(0, both.height() - 1);
    const int side = both.height();
    icon.addPixmap(TransparentPixmap(both.copy(0, 0, side, side), transparent), QIcon::Normal);
    icon.addPixmap(TransparentPixmap(both.copy(side, 0, side, side), transparent), QIcon::Disabled);
    return icon;
}

QIcon WindowIcon() {
    // Every size the pictures come in (keluflash-16.png to keluflash-256.png):
    // the window system picks the one that fits.
    QIcon icon;
    const QDir pictures(QStringLiteral(":/pictures"));
    for (const QString& name : pictures.entryList({QStringLiteral("keluflash-*.png")})) {
        icon.addFile(pictures.filePath(name));
    }
    return icon;
}

QString QtFileFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& label = parts[i];
        QString pattern = parts[i + 1];
        pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
        // Qt reads the patterns from the label's last parentheses.
        if (label.endsWith(QLatin1Char('(') + pattern + QLatin1Char(')'))) {
            entries << label;
        } else {
            entries << label + QStringLiteral(" (") + pattern + QLatin1Char(')');
        }
    }
    return entries.join(QStringLiteral(";;"));
}

QSize FixedHeightDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(kListItemHeight);
    return size;
}

Form1Widgets::Form1Widgets(QWidget& window)
    : groupBox1(QStringLiteral("Select Source : "), &window),
      selDevice(&groupBox1),
      groupBox2(QStringLiteral("Select File : "), &window),
      edit1(&groupBox2),
      bitBtn1(QStringLiteral("&Open"), &groupBox2),
      bitBtn2(QStringLiteral("&Start"), &window),
      bitBtn3(QStringLiteral("&Exit"), &window),
      listBox1(&window),
      statusBar1(&window),
      statusPanel0(&statusBar1),
      progressBar1(&statusBar1) {
    window.setFont(WindowFont());
    window.setBackgroundRole(QPalette::Button);
    window.setAutoFillBackground(true);

    groupBox1.setGeometry(4, -1, 261, 65);
    selDevice.setGeometry(30, 25, 201, 21);
    selDevice.setEditable(false);
    selDevice.setItemDelegate(&itemHeight);

    groupBox2.setGeometry(4, 71, 261, 81);
    edit1.setGeometry(31, 16, 201, 21);
    edit1.setReadOnly(true);

    const struct {
        QPushButton& button;
        const char* picture;
        QRect geometry;
    } buttons[] = {
        {bitBtn1, ":/pictures/open.bmp", QRect(86, 48, 75, 25)},
        {bitBtn2, ":/pictures/start.bmp", QRect(33, 160, 75, 25)},
        {bitBtn3, ":/pictures/exit.bmp", QRect(161, 160, 75, 25)},
    };
    for (const auto& b : buttons) {
        b.button.setGeometry(b.geometry);
        b.button.setIcon(GlyphIcon(QString::fromLatin1(b.picture)));
        b.button.setIconSize(QSize(16, 16));
        b.button.setAutoDefault(false);
    }

    listBox1.setGeometry(0, 190, kClientWidth, 83);
    listBox1.setSelectionMode(QAbstractItemView::SingleSelection);
    listBox1.setUniformItemSizes(true);
    listBox1.setItemDelegate(&itemHeight);

    statusBar1.setGeometry(0, 273, kClientWidth, 19);
    statusBar1.setSizeGripEnabled(false);
    statusBar1.addWidget(&statusPanel0, 1);  // the last panel reaches to the bar's right end

    progressBar1.setGeometry(169, 2, 97, 17);
    progressBar1.setRange(0, 100);
    progressBar1.setValue(0);
    progressBar1.setTextVisible(false);  // one continuous bar
    progressBar1.raise();                // over the right part of panel 0

    // The positions were drawn for the classic Windows controls (group box
    // titles on the frame line, 21-pixel drop-down, 25-pixel buttons), which
    // Qt's Windows style draws the same way; the colours stay the desktop's.
    style.reset(QStyleFactory::create(QStringLiteral("Windows")));
    if (style) {
        window.setStyle(style.get());
        for (QWidget* child : window.findChildren<QWidget*>()) {
            child->setStyle(style.get());
        }
    }

    // Within the window: GroupBox1 (SelDevice), GroupBox2 (Edit1, BitBtn1),
    // ListBox1, BitBtn2, BitBtn3.
    QWidget::setTabOrder(&selDevice, &edit1);
    QWidget::setTabOrder(&edit1, &bitBtn1);
    QWidget::setTabOrder(&bitBtn1, &listBox1);
    QWidget::setTabOrder(&listBox1, &bitBtn2);
    QWidget::setTabOrder(&bitBtn2, &bitBtn3);
}

}  // namespace keluflash
