#include "app/RuleChoices.h"

#include "core/SettingsStore.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSignalBlocker>

namespace {

const QString kApp = QStringLiteral("Tarvex");
const QString kSection = QStringLiteral("Pellmor");

// Each box shows its choices' texts and keeps the settings word as the item's
// data.
void addChoice(QComboBox* box, const QString& text, const QString& word) {
    box->addItem(text, word);
}

void storeOnChange(QComboBox* box, const QString& key) {
    QObject::connect(box, &QComboBox::currentIndexChanged, box, [box, key] {
        SaveSetting(kApp, kSection, key, box->currentData().toString());
    });
}

void select(QComboBox* box, const QString& word) {
    const QSignalBlocker quiet(box);
    box->setCurrentIndex(std::max(0, box->findData(word)));
}

} // namespace

RuleChoices::RuleChoices(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("RuleChoices"));
    // Small enough for the strip beside the folder frame's title.
    QFont small = font();
    small.setBold(false);
    small.setPointSizeF(8);
    setFont(small);
    setAutoFillBackground(true);

    matchLabel_ = new QLabel(QStringLiteral("Match files by"), this);
    matchBox_ = new QComboBox(this);
    matchBox_->setObjectName(QStringLiteral("cboMatchBy"));
    matchBox_->setAccessibleName(QStringLiteral("Match files by"));
    matchBox_->setToolTip(QStringLiteral(
        "name, anywhere: a local and a remote file match when their names are equal, wherever "
        "they lie.\npath: when their paths below the two folders are equal."));
    addChoice(matchBox_, QStringLiteral("name, anywhere"),
              CompareRules::word(CompareRules::Match::Name));
    addChoice(matchBox_, QStringLiteral("path"), CompareRules::word(CompareRules::Match::Path));

    overwriteLabel_ = new QLabel(QStringLiteral("Overwrite if remote"), this);
    overwriteBox_ = new QComboBox(this);
    overwriteBox_->setObjectName(QStringLiteral("cboOverwriteWhen"));
    overwriteBox_->setAccessibleName(QStringLiteral("Overwrite when the remote copy"));
    overwriteBox_->setToolTip(
        QStringLiteral("When a local file is proposed to overwrite its remote copy. Times and "
                       "contents are those the server tells; where it cannot, the rule falls "
                       "back to size and says so."));
    using O = CompareRules::Overwrite;
    addChoice(overwriteBox_, QStringLiteral("is smaller"), CompareRules::word(O::Smaller));
    addChoice(overwriteBox_, QStringLiteral("differs in size"), CompareRules::word(O::Size));
    addChoice(overwriteBox_, QStringLiteral("differs in size or time"),
              CompareRules::word(O::Time));
    addChoice(overwriteBox_, QStringLiteral("differs in content"), CompareRules::word(O::Content));

    matchLabel_->setBuddy(matchBox_);
    overwriteLabel_->setBuddy(overwriteBox_);
    for (QComboBox* box : {matchBox_, overwriteBox_}) {
        box->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        box->setFocusPolicy(Qt::StrongFocus);
    }

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(4, 0, 0, 0);
    row->setSpacing(4);
    row->addWidget(matchLabel_);
    row->addWidget(matchBox_);
    row->addSpacing(8);
    row->addWidget(overwriteLabel_);
    row->addWidget(overwriteBox_);

    storeOnChange(matchBox_, CompareRules::matchKey());
    storeOnChange(overwriteBox_, CompareRules::overwriteKey());
}

void RuleChoices::load() {
    const CompareRules stored = CompareRules::stored();
    select(matchBox_, CompareRules::word(stored.match));
    select(overwriteBox_, CompareRules::word(stored.overwrite));
}

CompareRules RuleChoices::rules() const {
    CompareRules rules;
    rules.match = CompareRules::matchFromWord(matchBox_->currentData().toString())
                      .value_or(CompareRules::Match::Name);
    rules.overwrite = CompareRules::overwriteFromWord(overwriteBox_->currentData().toString())
                          .value_or(CompareRules::Overwrite::Smaller);
    return rules;
}
