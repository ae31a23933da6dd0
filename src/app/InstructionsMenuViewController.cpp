#include "InstructionsMenuViewController.h"

#include "ui/Theme.h"

#include "SettingsStyle.h"

#include "platform/Bundle.h"
#include "platform/Logging.h"
#include "platform/PropertyList.h"
#include "platform/StringTable.h"
#include "ui/Fonts.h"

#include <QFile>
#include <QFontMetricsF>

namespace {
constexpr int kSupportSection = 4;
}

InstructionsMenuViewController::InstructionsMenuViewController(QWidget* parent) : ui::ViewController(parent) {
    setTitle(platform::StringTable::localized(QStringLiteral("localizable"), QStringLiteral("InstructionsTitle")));
    setBackgroundColor(ui::theme::kBackground);
    instructionsView_ = new ui::TableView(this);
    instructionsView_->setAccessibleName(QStringLiteral("Instructions"));
    instructionsView_->setAllowsSelection(false);
    instructionsView_->setCellBackgroundColor(ui::theme::kBackground);
    instructionsView_->setSeparatorColor(Qt::transparent);
    addSubview(instructionsView_, QRectF(0, 0, 320, 436));
    load();
    instructionsView_->setDataSource(this);
    instructionsView_->setCurrentRow({0, 0});
}

InstructionsMenuViewController::~InstructionsMenuViewController() {
    instructionsView_->setDataSource(nullptr);
}

QStringList InstructionsMenuViewController::sectionKeys() {
    return {QStringLiteral("About Tavrio"), QStringLiteral("How to Use"),           QStringLiteral("Buttons"),
            QStringLiteral("Important"),    QStringLiteral("Support and Feedback"), QStringLiteral("Disclaimer")};
}

QStringList InstructionsMenuViewController::listKeys() {
    return {QStringLiteral("kWhatStrings"),    QStringLiteral("kHowStrings"),
            QStringLiteral("kControlStrings"), QStringLiteral("kImportantStrings"),
            QStringLiteral("kSupportStrings"), QStringLiteral("kDisclaimerStrings")};
}

void InstructionsMenuViewController::load() {
    const QString path = platform::Bundle::pathForResource(QStringLiteral("instructions"), QStringLiteral("plist"));
    instructionSet_.clear();
    if (QFile::exists(path)) {
        QString error;
        const std::optional<QVariant> plist = platform::PropertyList::readFile(path, &error);
        if (plist && plist->typeId() == QMetaType::QVariantMap)
            instructionSet_ = plist->toMap();
        else
            qCWarning(lcApp).noquote() << "the user guide" << path << "cannot be read:"
                                       << (error.isEmpty() ? QStringLiteral("not a dictionary") : error);
    } else {
        qCWarning(lcApp).noquote() << "the user guide" << path << "is missing";
    }
    // Copies of the entries: a missing or malformed one is an empty section; only strings count.
    auto copy = [this](const QString& key) {
        QStringList out;
        const QVariant v = instructionSet_.value(key);
        if (v.typeId() == QMetaType::QVariantList)
            for (const QVariant& item : v.toList())
                if (item.typeId() == QMetaType::QString) out << item.toString();
        return out;
    };
    const QStringList keys = listKeys();
    kWhatStrings_ = copy(keys[0]);
    kHowStrings_ = copy(keys[1]);
    kControlsStrings_ = copy(keys[2]);
    kImportantStrings_ = copy(keys[3]);
    kSupportStrings_ = copy(keys[4]);
    kDisclaimerStrings_ = copy(keys[5]);
    instructionSet_.clear();  // needed only while loading
}

QStringList InstructionsMenuViewController::paragraphs(int section) const {
    switch (section) {
    case 0: return kWhatStrings_;
    case 1: return kHowStrings_;
    case 2: return kControlsStrings_;
    case 3: return kImportantStrings_;
    case 4: return kSupportStrings_;
    case 5: return kDisclaimerStrings_;
    default: return {};
    }
}

double InstructionsMenuViewController::rowHeightFor(const QString& text, double tableWidth) {
    const QFontMetricsF fm(ui::Fonts::systemInPoints(14));
    const QRectF box(0, 0, tableWidth - 50.0, 1000.0);
    const QRectF need = fm.boundingRect(box, Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, text);
    return std::min(need.height(), 1000.0) + 20.0;
}

int InstructionsMenuViewController::numberOfSections(ui::TableView*) {
    return 6;
}

int InstructionsMenuViewController::numberOfRows(ui::TableView*, int section) {
    return section >= 0 && section < 6 ? static_cast<int>(paragraphs(section).size()) : 1;
}

void InstructionsMenuViewController::headerForSection(ui::TableView*, int section, ui::TableHeader& header) {
    const QStringList keys = sectionKeys();
    header.title = section >= 0 && section < keys.size()
                       ? platform::StringTable::localized(QStringLiteral("instructions"), keys.at(section))
                       : QString();
    header.height = 44.0;
    header.fontPoints = 20;
    header.bold = true;
    header.textColor = ui::theme::kText;
    header.backgroundColor = Qt::transparent;
    header.x = 10;
    header.width = 300;
}

void InstructionsMenuViewController::cellTextForIndexPath(ui::TableCell& cell, const ui::IndexPath& indexPath) const {
    const QStringList list = paragraphs(indexPath.section);
    cell.text = indexPath.row >= 0 && indexPath.row < list.size() ? list.at(indexPath.row) : QString();
    cell.fontPoints = indexPath.section == kSupportSection ? 13 : 14;
    cell.textColor = ui::theme::kText;
    cell.highlightedTextColor = ui::theme::kText;
    cell.numberOfLines = 0;
}

void InstructionsMenuViewController::cellForRow(ui::TableView*, const ui::IndexPath& indexPath, ui::TableCell& cell) {
    cell = ui::TableCell();
    cell.style = ui::CellStyle::Default;
    cell.selectionStyle = ui::CellSelectionStyle::None;
    cellTextForIndexPath(cell, indexPath);
}

double InstructionsMenuViewController::heightForRow(ui::TableView* table, const ui::IndexPath& indexPath) {
    const QStringList list = paragraphs(indexPath.section);
    const QString text = indexPath.row >= 0 && indexPath.row < list.size() ? list.at(indexPath.row) : QString();
    const double width = table && table->widthInPoints() > 0 ? table->widthInPoints() : 320.0;
    return rowHeightFor(text, width);
}

bool InstructionsMenuViewController::canEditRow(ui::TableView*, const ui::IndexPath&) {
    return false;
}
