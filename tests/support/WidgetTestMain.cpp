#include <QApplication>

#include <gmock/gmock.h>

// Widget tests need a QApplication; without a display they draw offscreen
// (test discovery at build time runs outside the test session too).
int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_IM_MODULE", "none");
    QApplication app(argc, argv);
    testing::InitGoogleMock(&argc, argv);
    return RUN_ALL_TESTS();
}
