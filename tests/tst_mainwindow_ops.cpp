#include "tests/tst_mainwindow_fixture.h"
class TStub : public QObject { Q_OBJECT };
int main(int argc, char* argv[]) { return RunMainWindowTest<TStub>(argc, argv); }
#include "tst_mainwindow_ops.moc"
