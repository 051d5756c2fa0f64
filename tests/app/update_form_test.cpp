#include "app/qt/update_form.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <algorithm>

#include "support/watchdog.h"

namespace ZELKUtil {
namespace {

TEST(UpdateForm, BuildsEveryControlAtTheDesignScale) {
    UpdateForm form(QSizeF(1.0, 1.0));
    EXPECT_EQ(form.windowTitle(), "Orvanta Upgrade");
    EXPECT_EQ(form.size(), QSize(kDesignWidth, kDesignHeight));
    for (const ControlDesign& d : kControlDesigns) {
        QWidget* w = form.Widget(d.control);
        ASSERT_NE(w, nullptr);
        SCOPED_TRACE(d.name);
        EXPECT_EQ(w->objectName().toStdString(), d.name);
        const QRect rect(d.rect.x, d.rect.y, d.rect.width, d.rect.height);
        QString text;
        if (auto* l = qobject_cast<QLabel*>(w); d.kind == ControlKind::Label) {
            ASSERT_NE(l, nullptr);
            text = l->text();
            // Sized to its text from the start, in its place.
            EXPECT_EQ(w->geometry().topLeft(), rect.topLeft());
            EXPECT_EQ(w->size(), rect.isEmpty() ? rect.size() : w->sizeHint());
        } else if (auto* c = qobject_cast<QCheckBox*>(w); d.kind == ControlKind::CheckBox) {
            ASSERT_NE(c, nullptr);
            text = c->text();
            // Wide enough for its text (their places: below).
            EXPECT_GE(w->width(), w->sizeHint().width());
            EXPECT_EQ(w->geometry().top(), rect.top());
        } else {
            EXPECT_EQ(w->geometry(), rect);
            if (auto* b = qobject_cast<QPushButton*>(w); d.kind == ControlKind::Button) {
                ASSERT_NE(b, nullptr);
                text = b->text();
            } else if (auto* cb = qobject_cast<QComboBox*>(w); d.kind == ControlKind::Combo) {
                ASSERT_NE(cb, nullptr);
                text = cb->currentText();
                EXPECT_EQ(cb->count(), 0);
            } else {
                auto* t = qobject_cast<QPlainTextEdit*>(w);
                ASSERT_NE(t, nullptr);
                text = t->toPlainText();
            }
        }
        EXPECT_EQ(form.Shown(d.control), d.shown);
        EXPECT_EQ(text.toStdString(), d.text);
    }
    EXPECT_TRUE(form.Checked(Control::CheckProgramArm));
    EXPECT_FALSE(form.Checked(Control::CheckProgramFPGA));
    EXPECT_TRUE(form.Timer()->isActive());
    EXPECT_EQ(form.Timer()->interval(), 1000);

    // Tab order from the log on.
    QWidget* expectedOrder[] = {
        form.Widget(Control::CheckProgramArm), form.Widget(Control::CheckProgramFPGA),
        form.Widget(Control::ButtonDiag),      form.Widget(Control::buttonRestart),
        form.Widget(Control::ComboZelkType),   form.Widget(Control::ButtonForce),
        form.Widget(Control::ButtonAutoRings)};
    QWidget* w = form.Widget(Control::TextOutput);
    for (QWidget* next : expectedOrder) {
        w = w->nextInFocusChain();
        while (w->focusPolicy() == Qt::NoFocus || w->parentWidget() != &form) {
            w = w->nextInFocusChain();
        }
        EXPECT_EQ(w, next) << w->objectName().toStdString();
    }
}

TEST(UpdateForm, CheckBoxesFitTheirTextSideBySideAndTheServiceLogShrinkIsScaled) {
    for (const QSizeF scale : {QSizeF(1.0, 1.0), QSizeF(1.5, 1.5), QSizeF(2.0, 2.0)}) {
        SCOPED_TRACE(scale.width());
        UpdateForm form(scale);
        const QRect arm = form.Widget(Control::CheckProgramArm)->geometry();
        const QRect fpga = form.Widget(Control::CheckProgramFPGA)->geometry();
        // "Program ARM" draws its box at the right: that edge stays at its design place.
        EXPECT_EQ(arm.right() + 1, qRound(155 * scale.width()));
        EXPECT_GE(arm.width(), form.Widget(Control::CheckProgramArm)->sizeHint().width());
        EXPECT_GE(fpga.width(), form.Widget(Control::CheckProgramFPGA)->sizeHint().width());
        // "Program FPGA" keeps its right edge too, unless the text is so wide that it would then
        // cover "Program ARM": it then starts the design gap right of it.
        const int gap = qRound(6 * scale.width());
        EXPECT_GE(fpga.left(), arm.right() + gap);
        EXPECT_TRUE(fpga.right() + 1 == qRound(257 * scale.width()) ||
                    fpga.left() <= arm.right() + gap + 1);

        // Service mode's shorter log ends where the service row begins, at any scale.
        EXPECT_EQ(form.LogHeight(), 239);
        form.SetLogHeight(form.LogHeight() - 21);
        EXPECT_EQ(form.LogHeight(), 218);
        EXPECT_LE(form.Widget(Control::TextOutput)->geometry().bottom(),
                  form.Widget(Control::ButtonAutoRings)->geometry().top());
    }
}

TEST(UpdateForm, AnchoringWhenResized) {
    UpdateForm form(QSizeF(1.0, 1.0));
    form.show();
    const QRect arm = form.Widget(Control::CheckProgramArm)->geometry();
    const QRect fpga = form.Widget(Control::CheckProgramFPGA)->geometry();
    // The log shortened by service mode keeps its new bottom distance.
    form.SetLogHeight(form.LogHeight() - 21);
    form.resize(317 + 100, 355 + 60);
    EXPECT_EQ(form.Widget(Control::TextOutput)->geometry(), QRect(15, 86, 390, 278));
    EXPECT_EQ(form.Widget(Control::buttonRestart)->geometry(), QRect(345, 54, 60, 21));
    EXPECT_EQ(form.Widget(Control::ButtonForce)->geometry(), QRect(345, 23, 60, 21));
    EXPECT_EQ(form.Widget(Control::ButtonDiag)->geometry(), QRect(15, 54, 60, 21));
    EXPECT_EQ(form.Widget(Control::ButtonAutoRings)->geometry(), QRect(15, 364, 84, 21));
    EXPECT_EQ(form.Widget(Control::LabelEye)->geometry().topLeft(), QPoint(105, 368));
    EXPECT_EQ(form.Widget(Control::CheckProgramArm)->geometry(), arm.translated(50, 60));
    EXPECT_EQ(form.Widget(Control::CheckProgramFPGA)->geometry(), fpga.translated(50, 60));
    EXPECT_EQ(form.Widget(Control::DeviceLabel)->geometry().topLeft(), QPoint(12, 31));
    EXPECT_EQ(form.Widget(Control::LabelMode)->geometry().topLeft(), QPoint(15, 392));
    // Back to the design size, everything where it started.
    form.resize(317, 355);
    EXPECT_EQ(form.Widget(Control::TextOutput)->geometry(), QRect(15, 86, 290, 218));
    EXPECT_EQ(form.Widget(Control::CheckProgramArm)->geometry(), arm);
}

TEST(UpdateForm, LogAppendsExactlyAtTheEndAndCannotBeEdited) {
    UpdateForm form(QSizeF(1.0, 1.0));
    form.show();
    auto* log = qobject_cast<QPlainTextEdit*>(form.Widget(Control::TextOutput));
    form.AppendText("\r\nStarting the upgrade in: 5..");
    form.AppendText("4..");
    form.AppendText("\r\nDownloading\r");
    form.AppendText("\n#");
    form.AppendText("#");
    EXPECT_EQ(log->toPlainText().toStdString(),
              "\nStarting the upgrade in: 5..4..\nDownloading\n##");
    EXPECT_EQ(form.LogText(), "\r\nStarting the upgrade in: 5..4..\r\nDownloading\r\n##");

    // Typing does nothing, selecting and copying works.
    log->setFocus();
    QTest::keyClicks(log, "typed");
    QTest::keyClick(log, Qt::Key_Backspace);
    EXPECT_EQ(log->toPlainText().toStdString(),
              "\nStarting the upgrade in: 5..4..\nDownloading\n##");
    EXPECT_TRUE(log->isReadOnly());
    EXPECT_TRUE(log->textInteractionFlags() & Qt::TextSelectableByMouse);

    // A long log scrolls to its end.
    for (int i = 0; i < 200; ++i) {
        form.AppendText("\r\nline");
    }
    QApplication::processEvents();
    EXPECT_EQ(log->textCursor().position(), log->document()->characterCount() - 1);

    // Marks that never end their line are shown in paragraphs of bounded length, whose layout
    // does not cost more with every piece; the log's text stays exactly as appended.
    form.Clear();
    const std::string marks(std::size_t{64} * 1024, '#');
    {
        const Testing::Watchdog watchdog("appending 1 MiB of marks in 64 KiB pieces");
        for (int i = 0; i < 16; ++i) {
            form.AppendText(marks);
            QApplication::processEvents();
        }
    }
    EXPECT_EQ(form.LogText().size(), 16 * marks.size());
    int longest = 0;
    for (QTextBlock block = log->document()->begin(); block.isValid(); block = block.next()) {
        longest = std::max(longest, block.length() - 1);
    }
    EXPECT_EQ(longest, static_cast<int>(LogLines::kMaxShownLine));

    form.Clear();
    EXPECT_EQ(log->toPlainText().toStdString(), "");
    EXPECT_EQ(form.LogText(), "");
}

TEST(UpdateForm, ComboKeepsTypedTextOutOfItsListAndSelectsThroughTheHandler) {
    UpdateForm form(QSizeF(1.0, 1.0));
    int handled = 0;
    form.SetComboSelectionHandler([&] { ++handled; });
    std::string error;
    EXPECT_TRUE(form.AddComboItem(std::string("ZELK"), &error));
    EXPECT_TRUE(form.AddComboItem(std::string("ZELK Q750"), &error));
    EXPECT_FALSE(form.AddComboItem(std::nullopt, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(form.ComboSelectedIndex(), -1);
    EXPECT_EQ(handled, 0);

    EXPECT_EQ(form.ComboFindString("zelk q"), 1);
    EXPECT_EQ(form.ComboFindString("ZELK"), 0);
    EXPECT_EQ(form.ComboFindString("Q750"), -1);

    form.SetComboSelectedIndex(1);
    EXPECT_EQ(handled, 1);
    EXPECT_EQ(form.ComboSelectedItem(), "ZELK Q750");
    form.SetComboSelectedIndex(1);
    EXPECT_EQ(handled, 1);  // the same index raises nothing
    form.SetComboSelectedIndex(-1);
    EXPECT_EQ(handled, 2);
    EXPECT_EQ(form.ComboSelectedItem(), "");

    auto* combo = qobject_cast<QComboBox*>(form.Widget(Control::ComboZelkType));
    form.show();
    combo->setFocus();
    QTest::keyClicks(combo, "Typed");
    QTest::keyClick(combo, Qt::Key_Return);
    EXPECT_EQ(combo->count(), 2);
}

TEST(UpdateForm, LabelsKeepTheirTextAndSizeToIt) {
    UpdateForm form(QSizeF(1.0, 1.0));
    form.SetText(Control::DeviceLabel, "\r\nWaiting for response...");
    EXPECT_EQ(form.Text(Control::DeviceLabel), "\r\nWaiting for response...");
    form.SetText(Control::LabelMode, "Q750");
    QWidget* mode = form.Widget(Control::LabelMode);
    EXPECT_GT(mode->width(), 0);
    EXPECT_EQ(mode->pos(), QPoint(15, 332));
}

TEST(UpdateForm, KeyPreviewSeesKeysBeforeTheFocusedControlAndLetsThemThrough) {
    UpdateForm form(QSizeF(1.0, 1.0));
    std::vector<std::pair<Key, bool>> seen;
    UpdateForm::Handlers handlers;
    handlers.keyDown = [&](Key key, bool control) { seen.emplace_back(key, control); };
    form.SetHandlers(handlers);
    form.SetShown(Control::ComboZelkType, true);
    form.show();
    QApplication::setActiveWindow(&form);
    auto* combo = qobject_cast<QComboBox*>(form.Widget(Control::ComboZelkType));
    combo->setFocus();
    QTest::keyClicks(combo, "ab");
    QTest::keyClick(combo, Qt::Key_Backspace);
    QTest::keyClick(combo, Qt::Key_M, Qt::ControlModifier | Qt::ShiftModifier);
    QTest::keyClick(combo, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(combo->currentText(), "a");  // the control still got the backspace
    // Letters and the modifier keys' own presses come through as other keys.
    std::erase_if(seen, [](const auto& k) { return k.first == Key::Other; });
    const std::vector<std::pair<Key, bool>> expected = {
        {Key::Backspace, false}, {Key::M, true}, {Key::S, true}};
    EXPECT_EQ(seen, expected);
}

}  // namespace
}  // namespace ZELKUtil
