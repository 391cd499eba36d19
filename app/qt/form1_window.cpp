#include "app/qt/form1_window.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QStringList>
#include <algorithm>

namespace keluflash {

namespace {

QString Text(const std::string& text) {
    return QString::fromLocal8Bit(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

Form1Window::Form1Window(UserInterface& ui)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      m_ui(ui),
      m_widgets(*this) {
    setFixedSize(kClientWidth, kClientHeight);
    move(kWindowLeft, kWindowTop);
    setWindowIcon(WindowIcon());

    QObject::connect(&m_widgets.selDevice, &QComboBox::activated, this,
                     [this](int index) { RunHandler([index](TForm1& form) { form.SelDeviceChange(index); }); });
    QObject::connect(&m_widgets.bitBtn1, &QPushButton::clicked, this,
                     [this] { RunHandler([](TForm1& form) { form.BitBtn1Click(); }); });
    QObject::connect(&m_widgets.bitBtn2, &QPushButton::clicked, this,
                     [this] { RunHandler([](TForm1& form) { form.BitBtn2Click(); }); });
    QObject::connect(&m_widgets.bitBtn3, &QPushButton::clicked, this,
                     [this] { RunHandler([](TForm1& form) { form.BitBtn3Click(); }); });
}

void Form1Window::Attach(TForm1& form) {
    m_form = &form;
    m_widgets.listBox1.clear();
    for (const std::string& line : form.Messages()) {
        m_widgets.listBox1.addItem(Text(line));
    }
    ControlsChanged();
    ProgressChanged();
    Edit1Changed();
    CaptionChanged();
}

void Form1Window::RunHandler(const std::function<void(TForm1&)>& handler) {
    if (!m_form) {
        return;
    }
    {
        struct Depth {
            int& depth;
            explicit Depth(int& d) : depth(++d) {}
            ~Depth() { --depth; }
        } depth(m_handlerDepth);
        handler(*m_form);
    }
    if (m_handlerDepth == 0 && m_closePending) {
        m_closePending = false;
        close();
    }
}

void Form1Window::closeEvent(QCloseEvent* event) {
    if (m_handlerDepth > 0) {
        m_closePending = true;
        if (m_form) m_form->CloseDeferred();
        event->ignore();
        return;
    }
    event->accept();
}

void Form1Window::ControlsChanged() {
    if (!m_form) {
        return;
    }
    const std::vector<std::string>& items = m_form->SelDeviceItems();
    QComboBox& combo = m_widgets.selDevice;
    bool same = combo.count() == static_cast<int>(items.size());
    for (int i = 0; same && i < combo.count(); ++i) {
        same = combo.itemText(i) == Text(items[static_cast<size_t>(i)]);
    }
    if (!same) {
        combo.clear();
        for (const std::string& item : items) {
            combo.addItem(Text(item));
        }
    }
    combo.setCurrentIndex(m_form->SelDeviceIndex());
    combo.setEnabled(m_form->SelDeviceEnabled());
    m_widgets.statusPanel0.setText(Text(m_form->StatusPanelText()));
    m_widgets.bitBtn1.setEnabled(m_form->BitBtn1Enabled());
    m_widgets.bitBtn2.setEnabled(m_form->BitBtn2Enabled());
    m_widgets.bitBtn3.setEnabled(m_form->BitBtn3Enabled());
    // Seen at once, also while the handler keeps the thread busy.
    combo.repaint();
    m_widgets.bitBtn2.repaint();
    m_widgets.bitBtn3.repaint();
}

void Form1Window::MessageAdded(const std::string& line) {
    QListWidget& list = m_widgets.listBox1;
    list.addItem(Text(line));
    list.doItemsLayout();
    list.setCurrentRow(list.count() - 1);
    list.scrollToItem(list.item(list.count() - 1));
    list.viewport()->repaint();
}

void Form1Window::ProgressChanged() {
    if (!m_form) {
        return;
    }
    const ProgressState& progress = m_form->Progress();
    QProgressBar& bar = m_widgets.progressBar1;
    bar.setRange(progress.min, progress.max);
    bar.setValue(std::clamp(progress.position, progress.min, std::max(progress.min, progress.max)));
    bar.repaint();
}

void Form1Window::Edit1Changed() {
    if (m_form) {
        m_widgets.edit1.setText(Text(m_form->Edit1Text()));
    }
}

void Form1Window::CaptionChanged() {
    if (m_form) {
        setWindowTitle(Text(m_form->Caption()));
    }
}

bool Form1Window::ExecuteOpenDialog(std::string& fileName) {
    return m_openDialog ? m_openDialog(fileName) : AskOperatorForFile(fileName);
}

bool Form1Window::AskOperatorForFile(std::string& fileName) {
    QFileDialog dialog(this, QStringLiteral("Open"), m_dialogDirectory, QtFileFilter(QString::fromLatin1(kOpenDialogFilter)));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    if (!fileName.empty()) {
        dialog.selectFile(QFile::decodeName(QByteArray::fromStdString(fileName)));
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) {
        return false;
    }
    fileName = QFile::encodeName(dialog.selectedFiles().constFirst()).toStdString();
    return true;
}

void Form1Window::CloseWindow() {
    close();
}

void Form1Window::PumpMessage() {
    m_ui.PumpMessage();
}

void Form1Window::ProcessMessages() {
    m_ui.ProcessMessages();
}

int Form1Window::ShowMessage(const std::string& text, const std::string& caption, unsigned flags) {
    return m_ui.ShowMessage(text, caption, flags);
}

}  // namespace keluflash
