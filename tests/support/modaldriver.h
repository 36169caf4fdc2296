#pragma once

// Answers the modal windows that the code under test runs with exec(): a
// timer looks for a new one, notes what a message box says and answers it.
#include <QApplication>
#include <QList>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <functional>

class ModalDriver : public QObject
{
public:
    struct Box
    {
        QString title;
        QString text;
        QString informativeText;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QMessageBox::StandardButtons buttons;
    };
    using Answer = std::function<void(QWidget *)>;

    static void closeWindow(QWidget *w) { w->close(); }
    static void pressEscape(QWidget *w) { QTest::keyClick(w, Qt::Key_Escape); }
    static Answer press(QMessageBox::StandardButton button)
    {
        return [button](QWidget *w) {
            if (auto *box = qobject_cast<QMessageBox *>(w))
                if (QAbstractButton *b = box->button(button))
                    b->click();
        };
    }

    explicit ModalDriver(Answer answerWith = closeWindow) : answer(std::move(answerWith))
    {
        connect(&timer, &QTimer::timeout, this, &ModalDriver::poll);
        timer.start(pollMs);
    }

    QStringList titles; // of every modal window, message box or not
    QList<Box> boxes;

private:
    static constexpr int pollMs = 10;

    void poll()
    {
        QWidget *w = QApplication::activeModalWidget();
        if (!w || !w->isVisible() || handled.contains(w))
            return;
        handled.append(w);
        titles.append(w->windowTitle());
        if (auto *box = qobject_cast<QMessageBox *>(w))
            boxes.append({box->windowTitle(), box->text(), box->informativeText(), box->icon(),
                          box->standardButtons()});
        answer(w);
    }

    Answer answer;
    QTimer timer;
    QList<QPointer<QWidget>> handled;
};
