#pragma once

#include "compare/CompareRules.h"

#include <QWidget>

class QComboBox;
class QLabel;

// The two choices of the compare rules, as compact boxes: how files are
// matched ("name, anywhere" or "path") and when the remote copy is
// overwritten ("is smaller", "differs in size", "differs in size or time",
// "differs in content"). Each choice is stored at once under its key in the
// settings ([Pellmor] MatchBy and OverwriteWhen), like the other boxes of the
// window; load() shows the stored ones.
class RuleChoices : public QWidget {
    Q_OBJECT
public:
    explicit RuleChoices(QWidget* parent = nullptr);

    void load();
    CompareRules rules() const;

private:
    QLabel* matchLabel_ = nullptr;
    QComboBox* matchBox_ = nullptr;
    QLabel* overwriteLabel_ = nullptr;
    QComboBox* overwriteBox_ = nullptr;
};
