#include "ui/DialogTemplate.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <map>
#include <stdexcept>

// The resources are compiled into this static library; registering them here keeps the linker
// from dropping them from programs that only reach them through these functions.
static void RegisterResources() { Q_INIT_RESOURCE(tarnwell); }

namespace tarnwell {

namespace {

const QString kResourceRoot = QStringLiteral(":/tarnwell/");

ControlKind ParseKind(const QString& kind)
{
    static const std::map<QString, ControlKind> kinds{
        {QStringLiteral("edit"), ControlKind::Edit},
        {QStringLiteral("push button"), ControlKind::PushButton},
        {QStringLiteral("group box"), ControlKind::GroupBox},
        {QStringLiteral("label"), ControlKind::Label},
        {QStringLiteral("progress bar"), ControlKind::ProgressBar},
        {QStringLiteral("drop-down list"), ControlKind::DropDownList},
        {QStringLiteral("check box"), ControlKind::CheckBox},
        {QStringLiteral("icon"), ControlKind::Icon},
    };
    const auto found = kinds.find(kind);
    if (found == kinds.end()) {
        throw std::runtime_error("unknown control kind in the dialog templates: " + kind.toStdString());
    }
    return found->second;
}

QStringList ToStringList(const QJsonValue& value)
{
    QStringList out;
    for (const QJsonValue& item : value.toArray()) {
        out.push_back(item.toString());
    }
    return out;
}

QRect ToRect(const QJsonValue& value)
{
    const QJsonArray a = value.toArray();
    if (a.size() != 4) {
        throw std::runtime_error("a control rectangle needs x, y, width and height");
    }
    return {a[0].toInt(), a[1].toInt(), a[2].toInt(), a[3].toInt()};
}

// A dialog's size: two positive integers, in dialog units.
QSize ToSize(const QJsonValue& value)
{
    const QJsonArray a = value.toArray();
    if (a.size() != 2 || !a[0].isDouble() || !a[1].isDouble() || a[0].toInt() <= 0 || a[1].toInt() <= 0) {
        throw std::runtime_error("a dialog template needs a size of two positive integers");
    }
    return {a[0].toInt(), a[1].toInt()};
}

struct Resources {
    std::map<int, DialogTemplate> dialogs;
    std::map<int, QString> strings;
    std::map<int, QStringList> icons;  // image files, one per size
};

Resources ParseResources()
{
    QFile file(kResourceRoot + QStringLiteral("templates.json"));
    if (!file.open(QIODevice::ReadOnly)) {
        throw std::runtime_error("the dialog templates are missing from the program's resources");
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (document.isNull()) {
        throw std::runtime_error("the dialog templates do not parse: " + error.errorString().toStdString());
    }
    const QJsonObject root = document.object();

    Resources resources;
    const QJsonObject strings = root.value(QStringLiteral("strings")).toObject();
    for (auto it = strings.begin(); it != strings.end(); ++it) {
        resources.strings[it.key().toInt()] = it.value().toString();
    }
    const QJsonObject icons = root.value(QStringLiteral("icons")).toObject();
    for (auto it = icons.begin(); it != icons.end(); ++it) {
        resources.icons[it.key().toInt()] = ToStringList(it.value());
    }
    for (const QJsonValue& value : root.value(QStringLiteral("dialogs")).toArray()) {
        const QJsonObject d = value.toObject();
        DialogTemplate dialog = ParseDialogTemplate(d);
        resources.dialogs[dialog.id] = std::move(dialog);
    }
    return resources;
}

const Resources& TheResources()
{
    static const Resources resources = [] {
        RegisterResources();
        return ParseResources();
    }();
    return resources;
}

}  // namespace

DialogTemplate ParseDialogTemplate(const QJsonObject& d)
{
    DialogTemplate dialog;
    dialog.id = d.value(QStringLiteral("id")).toInt();
    dialog.caption = d.value(QStringLiteral("caption")).toString();
    const QSize size = ToSize(d.value(QStringLiteral("size")));
    dialog.width = size.width();
    dialog.height = size.height();
    const QJsonArray font = d.value(QStringLiteral("font")).toArray();
    if (font.size() != 2 || !font[0].isString() || !font[1].isDouble() || font[1].toInt() <= 0) {
        throw std::runtime_error("a dialog template needs a font: a family and a point size");
    }
    dialog.fontFamily = font[0].toString();
    dialog.fontPointSize = font[1].toInt();
    dialog.style = ToStringList(d.value(QStringLiteral("style")));
    for (const QJsonValue& c : d.value(QStringLiteral("controls")).toArray()) {
        const QJsonObject o = c.toObject();
        ControlTemplate control;
        control.id = o.value(QStringLiteral("id")).toInt(kNoControlId);
        control.kind = ParseKind(o.value(QStringLiteral("kind")).toString());
        control.text = o.value(QStringLiteral("text")).toString();
        control.rect = ToRect(o.value(QStringLiteral("rect")));
        control.style = ToStringList(o.value(QStringLiteral("style")));
        control.items = ToStringList(o.value(QStringLiteral("items")));
        dialog.controls.push_back(std::move(control));
    }
    return dialog;
}

const ControlTemplate* DialogTemplate::Find(int controlId) const
{
    for (const ControlTemplate& control : controls) {
        if (control.id == controlId) {
            return &control;
        }
    }
    return nullptr;
}

const DialogTemplate& LoadDialogTemplate(int templateId)
{
    const auto& dialogs = TheResources().dialogs;
    const auto found = dialogs.find(templateId);
    if (found == dialogs.end()) {
        throw std::runtime_error("no dialog template " + std::to_string(templateId));
    }
    return found->second;
}

QString LoadResourceString(int stringId)
{
    const auto& strings = TheResources().strings;
    const auto found = strings.find(stringId);
    return found == strings.end() ? QString() : found->second;
}

QIcon LoadResourceIcon(int iconId)
{
    const auto& icons = TheResources().icons;
    const auto found = icons.find(iconId);
    QIcon icon;
    if (found != icons.end()) {
        for (const QString& file : found->second) {
            icon.addFile(kResourceRoot + file);
        }
    }
    return icon;
}

}  // namespace tarnwell
