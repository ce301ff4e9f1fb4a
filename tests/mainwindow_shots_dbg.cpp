#include "app/tervolt_mainform.h"
#include "tests/tst_mainwindow_fixture.h"
#include "skin/suiradiogroup.h"
#include <QCheckBox>
#include <QLabel>
#include <QRadioButton>
#include <cstdio>
int main(int argc, char* argv[]) {
    TPrivateSettings s; QApplication app(argc, argv); MapAllPortsToMissingDevices();
    TProgramDirectory dir; TMessageRecorder rec;
    TFormTervolt form(dir.Path());
    form.show(); QApplication::processEvents();
    auto* chk = Control<QCheckBox>(form, "CheckBoxWriteFileSizeOnStart");
    auto* op = Control<TsuiRadioGroup>(form, "RadioGroupOperation");
    auto* fmt = Control<TsuiRadioGroup>(form, "RadioGroupHexFileFormat");
    std::printf("chk %d x %d\n", chk->sizeHint().width(), chk->sizeHint().height());
    std::printf("op min %d x %d; prog %d\n", op->minimumSizeHint().width(), op->minimumSizeHint().height(), op->Button(1)->sizeHint().width());
    std::printf("fmt min %d x %d\n", fmt->minimumSizeHint().width(), fmt->minimumSizeHint().height());
    for (auto n : {"LabelStartAddress","LabelManefacturer","LabelMode","LabelAddress","LabelAddressNumber"}) std::printf("%s %d\n", n, Control<QLabel>(form,n)->sizeHint().width());
    std::printf("edit %d\n", Control<QWidget>(form,"EditStartAddress")->sizeHint().width());
}
