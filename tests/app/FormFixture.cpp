#include "FormFixture.h"

#include <QApplication>
#include <QTest>

void RecordNoBoxes() {
    SetMessageBoxHook(
        [](const BoxRecord& box) { ADD_FAILURE() << "unexpected box: " << box.text.toStdString(); });
}

void FormFixture::SetUp() {
    ScanPending = 0;
    ReadPending = 0;
    LastReplyHex.clear();
    SetMessageBoxHook([this](const BoxRecord& box) { boxes.push_back(box); });
    wakeUp = InstallQtWakeUp();
    form = std::make_unique<TForm1>();
    Form1 = form.get();
}

void FormFixture::TearDown() {
    form->ShutdownEndpoint();
    form.reset();
    Form1 = nullptr;
    wakeUp.reset();
    RecordNoBoxes();
}

void FormFixture::ShowActive() {
    form->show();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
}

void FormFixture::ClickInto(QWidget& widget) {
    QTest::mouseClick(&widget, Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::focusWidget() == &widget; }, 2000));
}
