#include "ui/TemplateDialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <algorithm>
#include <vector>

#include "ui/DataExchange.h"

namespace tarnwell {

namespace {

QFont TemplateFont(const DialogTemplate& t)
{
    QFont font(t.fontFamily, t.fontPointSize);
    // The template's face is rarely installed here: fall back on faces of similar width, then
    // on any sans-serif. Whichever is found sets the dialog units through its own metrics.
    font.setFamilies({t.fontFamily, QStringLiteral("Microsoft Sans Serif"), QStringLiteral("Arial"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans")});
    font.setStyleHint(QFont::SansSerif);
    return font;
}

void DefaultMessageBox(QWidget* parent, const QString& text, const QString& informative)
{
    QMessageBox box(QMessageBox::Warning, QApplication::applicationName(), text, QMessageBox::Ok, parent);
    box.setInformativeText(informative);
    box.exec();
}

}  // namespace

void GreyText(QWidget& widget, bool greyed)
{
    const QPalette normal = QApplication::palette(&widget);
    QPalette palette = widget.palette();
    for (QPalette::ColorRole role : {QPalette::Text, QPalette::WindowText}) {
        for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
            palette.setColor(group, role, normal.color(greyed ? QPalette::Disabled : group, role));
        }
    }
    widget.setPalette(palette);
}

TemplateDialog::TemplateDialog(int templateId, QWidget* parent)
    : QDialog(parent),
      template_(&LoadDialogTemplate(templateId)),
      units_(TemplateFont(*template_)),
      messageBox_(
          [this](QWidget* parent, const QString& text) { DefaultMessageBox(parent, text, informative_); }),
      groupStyle_(QStyleFactory::create(QStringLiteral("Windows")))
{
    setFont(TemplateFont(*template_));
    setWindowTitle(template_->caption);
    // Caption and system menu (close), no minimise or maximise box, no resizing.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(units_.MapSize(template_->width, template_->height));

    std::vector<QWidget*> tabOrder;
    std::vector<QWidget*> frames;
    for (const ControlTemplate& control : template_->controls) {
        QWidget* widget = CreateControl(control);
        if (control.id != kNoControlId) {
            widget->setObjectName(QString::number(control.id));
            controls_[control.id] = widget;
        }
        if (control.kind == ControlKind::GroupBox) {
            frames.push_back(widget);
        } else if (widget->focusPolicy() != Qt::NoFocus) {
            tabOrder.push_back(widget);
        }
    }
    // Group boxes only frame their neighbours: keep them beneath, and out of the way of clicks.
    for (QWidget* frame : frames) {
        frame->setAttribute(Qt::WA_TransparentForMouseEvents);
        frame->lower();
    }
    for (std::size_t i = 1; i < tabOrder.size(); ++i) {
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    }
}

TemplateDialog::~TemplateDialog()
{
    // The controls go before the style their group boxes borrow.
    qDeleteAll(findChildren<QWidget*>(Qt::FindDirectChildrenOnly));
}

QWidget* TemplateDialog::CreateControl(const ControlTemplate& control)
{
    QWidget* widget = nullptr;
    QRect geometry = units_.Map(control.rect);
    switch (control.kind) {
    case ControlKind::Edit: {
        auto* edit = new QLineEdit(this);
        if (control.HasStyle(QStringLiteral("read-only"))) {
            edit->setReadOnly(true);
            // Read-only boxes show on the window's colour, as on the platform.
            QPalette palette = edit->palette();
            palette.setColor(QPalette::Base, palette.color(QPalette::Window));
            edit->setPalette(palette);
        }
        widget = edit;
        break;
    }
    case ControlKind::PushButton: {
        auto* button = new QPushButton(control.text, this);
        // Enter goes to the default button only where the template names one.
        button->setAutoDefault(false);
        button->setDefault(control.HasStyle(QStringLiteral("default")));
        widget = button;
        break;
    }
    case ControlKind::GroupBox: {
        auto* group = new QGroupBox(control.text, this);
        // The classic frame runs through the middle of its title, as the templates assume;
        // styles that put the title above the frame would push it onto the first row inside.
        if (groupStyle_ != nullptr) {
            group->setStyle(groupStyle_.get());
        }
        widget = group;
        break;
    }
    case ControlKind::Label: {
        auto* label = new QLabel(control.text, this);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setTextFormat(Qt::PlainText);
        widget = label;
        break;
    }
    case ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(this);
        bar->setTextVisible(false);
        bar->setRange(0, 100);  // the platform control's range until someone sets one
        bar->setValue(0);
        widget = bar;
        break;
    }
    case ControlKind::DropDownList: {
        auto* list = new QComboBox(this);
        list->addItems(control.items);
        // The template's height is that of the opened list; the closed box is one line.
        const int lineHeight = units_.Y(12) > 0 ? units_.Y(12) : 1;
        list->setMaxVisibleItems(std::max(1, (geometry.height() - list->sizeHint().height()) / lineHeight));
        geometry.setHeight(list->sizeHint().height());
        widget = list;
        break;
    }
    case ControlKind::CheckBox:
        widget = new QCheckBox(control.text, this);
        break;
    case ControlKind::Icon: {
        // An icon control takes the size of its icon, at the template's position.
        auto* label = new QLabel(this);
        const QPixmap pixmap = LoadResourceIcon(control.text.toInt()).pixmap(32, 32);
        label->setPixmap(pixmap);
        geometry.setSize(pixmap.deviceIndependentSize().toSize());
        widget = label;
        break;
    }
    }
    if (control.kind == ControlKind::Label || control.kind == ControlKind::CheckBox) {
        // A stand-in face can run wider than the template's: a caption may push its control
        // to the right, never be cut.
        geometry.setWidth(std::max(geometry.width(), widget->sizeHint().width()));
    }
    widget->setGeometry(geometry);
    return widget;
}

QWidget* TemplateDialog::Control(int id) const
{
    const auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : found->second;
}

bool TemplateDialog::UpdateData(bool saveAndValidate)
{
    DataExchange dx(*this, saveAndValidate);
    DoDataExchange(dx);
    return !dx.Failed();
}

void TemplateDialog::MessageBox(const QString& text, const QString& informative)
{
    informative_ = informative;
    messageBox_(this, text);
    informative_.clear();
}

void TemplateDialog::setVisible(bool visible)
{
    if (visible && !initialised_) {
        initialised_ = true;
        OnInitDialog();
    }
    QDialog::setVisible(visible);
}

bool TemplateDialog::OnInitDialog()
{
    UpdateData(false);
    return true;
}

void TemplateDialog::DoDataExchange(DataExchange&) {}

}  // namespace tarnwell
