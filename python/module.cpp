// The Python module tervolt._core: boards, images, ports and the device list for test scripts, on the
// engine tervolt-cli runs. A step runs on the board's own thread with the GIL released; the calling
// thread meanwhile calls the progress callback and looks for Ctrl-C (TScriptBoard::kPollMs).

// Python's headers first: Qt's keyword macros (slots) must not reach them.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "cli/clioptions.h"
#include "cli/portlist.h"
#include "cli/resultreport.h"
#include "common/version.h"
#include "devices/devicesdb.h"
#include "devices/deviceslocation.h"
#include "files/systemfiles.h"
#include "python/scriptboard.h"

#include <QCoreApplication>

#include <atomic>
#include <chrono>
#include <cmath>
#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace py = pybind11;

namespace {

// Set by the package's __init__ before anything else: the device list is found relative to it.
QString gModuleDirectory;

std::string Text(const QString& text) {
    return text.toStdString();
}

std::optional<std::string> TextOrNone(const QString& text) {
    return text.isEmpty() ? std::nullopt : std::optional<std::string>(text.toStdString());
}

// A str, bytes or os.PathLike, as the system names the file.
QString PathOf(const py::object& path) {
    const py::bytes bytes = py::module_::import("os").attr("fsencode")(path);
    return FileNameFromSystem(QByteArray::fromStdString(std::string(bytes)));
}

// The exception classes, made once when the module is imported and kept for its lifetime.
struct TErrorKinds {
    PyObject* Error = nullptr;
    PyObject* CompareError = nullptr;
    PyObject* ImageError = nullptr;
    PyObject* CommunicationError = nullptr;
    PyObject* PortError = nullptr;
    PyObject* NoTarget = nullptr;
    PyObject* LineLost = nullptr;
    PyObject* GaveUp = nullptr;
    PyObject* NotIdentified = nullptr;
    PyObject* ChipNotListed = nullptr;
    PyObject* Interrupted = nullptr;
    PyObject* DeviceListError = nullptr;
    PyObject* UsageError = nullptr;
};
TErrorKinds gKinds;

struct TPyCompare {
    std::uint32_t Address = 0;
    int Expected = 0;
    int Actual = 0;
};

struct TPyChip {
    std::string Manufacturer;
    std::string Device;
};

// A step's result, with the fields of tervolt-cli's --json board object.
struct TPyResult {
    std::string Port;
    std::string Manufacturer;
    std::string DeviceId;
    std::string Operation;
    std::string Outcome;
    std::string Message;
    int ExitStatus = 0;
    std::uint64_t Bytes = 0;
    double Seconds = 0;
    int Retries = 0;
    std::optional<TPyCompare> Compare;
    std::optional<std::string> FlashState;
    std::optional<std::string> Format;
    std::vector<std::string> Diagnostics;

    py::dict AsDict() const {
        py::dict json;
        json["port"] = Port;
        json["manufacturer"] = Manufacturer;
        json["device_id"] = DeviceId;
        json["operation"] = Operation;
        json["outcome"] = Outcome;
        json["message"] = Message;
        json["exit_status"] = ExitStatus;
        json["bytes"] = Bytes;
        json["seconds"] = std::round(Seconds * 1000.0) / 1000.0;
        json["retries"] = Retries;
        if (Compare) {
            py::dict compare;
            compare["address"] = Compare->Address;
            compare["expected"] = Compare->Expected;
            compare["actual"] = Compare->Actual;
            json["compare"] = compare;
        }
        if (FlashState)
            json["flash_state"] = *FlashState;
        if (Format)
            json["format"] = *Format;
        return json;
    }
};

TPyResult ResultOf(const TScriptOutcome& outcome) {
    const TBoardResult& board = outcome.Result;
    TPyResult result;
    result.Port = Text(board.Port);
    result.Manufacturer = Text(board.Manufacturer);
    result.DeviceId = Text(board.DeviceId);
    result.Operation = Text(board.Operation);
    result.Outcome = Text(OutcomeKind(board.ExitStatus));
    result.Message = Text(board.Lines.join(QLatin1Char('\n')));
    result.ExitStatus = board.ExitStatus;
    result.Bytes = board.Bytes;
    result.Seconds = board.Seconds;
    result.Retries = board.Retries;
    if (board.Compare)
        result.Compare = TPyCompare{board.Compare->Address, board.Compare->Expected, board.Compare->Actual};
    result.FlashState = TextOrNone(board.FlashState);
    result.Format = TextOrNone(board.Format);
    for (const QString& line : outcome.Diagnostics)
        result.Diagnostics.push_back(Text(line));
    return result;
}

PyObject* KindOf(const TBoardResult& result) {
    switch (result.ExitStatus) {
    case esCompareMismatch:
        return gKinds.CompareError;
    case esImageError:
        return gKinds.ImageError;
    case esNotIdentified:
        return result.Manufacturer.isEmpty() ? gKinds.NotIdentified : gKinds.ChipNotListed;
    case esInterrupted:
        return gKinds.Interrupted;
    case esDevicesError:
        return gKinds.DeviceListError;
    case esUsage:
        return gKinds.UsageError;
    default:
        break;
    }
    switch (result.Fault) {
    case TLineFault::PortNotOpened:
        return gKinds.PortError;
    case TLineFault::NoTarget:
        return gKinds.NoTarget;
    case TLineFault::LineLost:
        return gKinds.LineLost;
    case TLineFault::GaveUp:
        return gKinds.GaveUp;
    case TLineFault::None:
        break;
    }
    return gKinds.CommunicationError;
}

// The exception of `kind` with the message and the fields every tervolt.Error has.
py::object MakeError(PyObject* kind, const std::string& message, const std::vector<std::string>& detail,
                     int exitStatus, const py::object& result, const std::optional<std::string>& flashState) {
    std::string text = message;
    for (const std::string& line : detail)
        text += (text.empty() ? "" : "\n") + line;
    py::object error = py::reinterpret_borrow<py::object>(kind)(text);
    error.attr("message") = message;
    error.attr("detail") = detail;
    error.attr("exit_status") = exitStatus;
    error.attr("result") = result;
    error.attr("flash_state") = flashState ? py::object(py::str(*flashState)) : py::none();
    return error;
}

[[noreturn]] void Throw(PyObject* kind, const py::object& error) {
    PyErr_SetObject(kind, error.ptr());
    throw py::error_already_set();
}

[[noreturn]] void RaiseFor(const TScriptOutcome& outcome) {
    const TPyResult result = ResultOf(outcome);
    PyObject* kind = KindOf(outcome.Result);
    py::object error = MakeError(kind, result.Message, result.Diagnostics, result.ExitStatus,
                                 py::cast(result), result.FlashState);
    if (kind == gKinds.CompareError && result.Compare) {
        error.attr("address") = result.Compare->Address;
        error.attr("expected") = result.Compare->Expected;
        error.attr("actual") = result.Compare->Actual;
    }
    if (kind == gKinds.ChipNotListed) {
        error.attr("manufacturer") = result.Manufacturer;
        error.attr("device") = result.DeviceId;
    }
    Throw(kind, error);
}

[[noreturn]] void RaiseUsage(const QString& message) {
    Throw(gKinds.UsageError,
          MakeError(gKinds.UsageError, Text(message), {}, esUsage, py::none(), std::nullopt));
}

// The option to give instead, in the words of this API.
QString PythonFormatOption(const char* format) {
    return QStringLiteral("format=\"%1\"").arg(QLatin1String(format));
}

std::vector<std::string> ImageDetail(const TFlashOutcome& outcome) {
    if (outcome.Detail.isEmpty())
        return {};
    return {Text(ImageDetailOf(outcome, PythonFormatOption))};
}

std::optional<TImageFormat> FormatOf(const std::optional<std::string>& name) {
    if (!name)
        return std::nullopt;
    const std::optional<TImageFormat> format = ImageFormatFromName(QString::fromStdString(*name));
    if (!format)
        RaiseUsage(QStringLiteral("invalid format '%1' (auto, hex, ihex, srec, elf or bin)")
                       .arg(QString::fromStdString(*name)));
    return format;
}

class TPyImage {
public:
    TPyImage(const py::object& path, const std::optional<std::string>& format, std::uint32_t start,
             bool sizeHeader) {
        const QString fileName = PathOf(path);
        const std::optional<TImageFormat> named = FormatOf(format);
        TFlashOutcome refused;
        std::optional<TScriptImage> image;
        {
            py::gil_scoped_release release;
            image = ReadScriptImage(fileName, named, start, sizeHeader, refused);
        }
        if (!image)
            Throw(gKinds.ImageError, MakeError(gKinds.ImageError, Text(refused.Text), ImageDetail(refused),
                                               esImageError, py::none(), std::nullopt));
        FImage = std::move(*image);
    }

    const TScriptImage& Image() const { return FImage; }
    std::string Path() const { return Text(FImage.FileName); }
    std::string Format() const { return Text(ImageFormatName(FImage.Format)); }
    std::optional<std::string> Note() const { return TextOrNone(FImage.Note); }

    py::list Blocks() const {
        QString error;
        std::vector<TImageBlock> blocks;
        {
            py::gil_scoped_release release;
            blocks = ScriptImageBlocks(FImage, error);
        }
        if (!error.isEmpty())
            Throw(gKinds.ImageError,
                  MakeError(gKinds.ImageError, Text(error), {}, esImageError, py::none(), std::nullopt));
        py::list list;
        for (const TImageBlock& block : blocks)
            list.append(py::make_tuple(block.Address, block.Length));
        return list;
    }

    std::string Repr() const {
        return Text(QStringLiteral("Image('%1', format='%2', total=%3)")
                        .arg(FImage.FileName, ImageFormatName(FImage.Format))
                        .arg(FImage.Total));
    }

private:
    TScriptImage FImage;
};

// What the calling thread does while a step runs: progress, Ctrl-C, and what either raised.
class TCallerPoll {
public:
    TCallerPoll(TScriptBoard& board, py::object progress) : FBoard(board), FProgress(std::move(progress)) {}

    // Called without the GIL.
    void operator()() {
        // A daemon thread must not take the GIL while the interpreter ends: Python would end the thread
        // in the middle of C++ frames. The run stops instead; the caller parks (ParkIfEnding).
        if (_Py_IsFinalizing()) {
            FBoard.Stop();
            return;
        }
        py::gil_scoped_acquire gil;
        if (FFailure)
            return;
        if (PyErr_CheckSignals() != 0) {
            FFailure.emplace();
            FSignal = true;
            FBoard.Stop();
            return;
        }
        if (FProgress.is_none())
            return;
        std::uint64_t done = 0;
        std::uint64_t total = 0;
        FBoard.Progress(done, total);
        if (total == 0 || (done == FDone && total == FTotal))
            return;
        FDone = done;
        FTotal = total;
        try {
            FProgress(done, total);
        } catch (py::error_already_set& raised) {
            // Ctrl-C while the callback ran is still Ctrl-C.
            FSignal = raised.matches(PyExc_KeyboardInterrupt);
            FFailure.emplace(std::move(raised));
            FBoard.Stop();
        }
    }

    // With the GIL, once the step has ended: what the caller raised wins over the step's outcome.
    void RaisePending(const TScriptOutcome& outcome) {
        if (!FFailure)
            return;
        if (FSignal && outcome.Result.ExitStatus == esInterrupted) {
            FFailure.reset();
            RaiseFor(outcome);
        }
        const py::object raised = FFailure->value();
        if (!FSignal && py::hasattr(raised, "add_note"))
            raised.attr("add_note")(Text(
                QStringLiteral("tervolt: %1: %2").arg(outcome.Result.Port, outcome.Result.Lines.join(u' '))));
        FFailure->restore();
        throw py::error_already_set();
    }

private:
    TScriptBoard& FBoard;
    py::object FProgress;
    std::optional<py::error_already_set> FFailure;
    bool FSignal = false;
    std::uint64_t FDone = 0;
    std::uint64_t FTotal = 0;
};

class TPyBoard {
public:
    TPyBoard(const py::object& port, long long baud, const py::object& devices, long long retries)
        : FPid(QCoreApplication::applicationPid()) {
        if (baud <= 0 || baud > std::numeric_limits<std::uint32_t>::max())
            RaiseUsage(QStringLiteral("invalid baud rate '%1'").arg(baud));
        if (retries < 0 || retries > std::numeric_limits<int>::max())
            RaiseUsage(QStringLiteral("invalid retry count '%1'").arg(retries));
        TScriptBoardSettings settings;
        settings.Port = PathOf(port);
        if (settings.Port.isEmpty())
            RaiseUsage(QStringLiteral("no port named"));
        settings.Baud = std::uint32_t(baud);
        settings.DevicesFile = devices.is_none() ? QString() : PathOf(devices);
        settings.ModuleDirectory = gModuleDirectory;
        settings.InstalledDataDir = QStringLiteral(TERVOLT_DATA_DIR_FROM_MODULE);
        settings.Retries = int(retries);
        {
            py::gil_scoped_release release;
            FBoard = std::make_unique<TScriptBoard>(settings);
        }
        if (!FBoard->UsageError().isEmpty())
            RaiseUsage(FBoard->UsageError());
        Run([this](const TScriptBoard::TPoll& poll) { return FBoard->Open(poll); }, py::none());
    }

    void Ping() {
        Run([this](const TScriptBoard::TPoll& poll) { return FBoard->Ping(poll); }, py::none());
    }

    TPyChip Identify() {
        const TScriptOutcome outcome =
            Run([this](const TScriptBoard::TPoll& poll) { return FBoard->Identify(poll); }, py::none());
        return TPyChip{Text(outcome.Result.Manufacturer), Text(outcome.Result.DeviceId)};
    }

    TPyResult Transfer(const py::object& image, bool program, bool verify,
                       const std::optional<std::string>& format, const std::optional<std::uint32_t>& start,
                       const std::optional<bool>& sizeHeader, const py::object& progress) {
        // An image given as a path is read here, before anything goes to the board.
        std::optional<TPyImage> read;
        if (!py::isinstance<TPyImage>(image))
            read.emplace(image, format, start.value_or(0), sizeHeader.value_or(true));
        else if (format || start || sizeHeader)
            RaiseUsage(QStringLiteral("format, start and size_header apply to a path: an Image was read with "
                                      "its own"));
        const TScriptImage& sent = read ? read->Image() : image.cast<const TPyImage&>().Image();
        return ResultOf(Run(
            [&](const TScriptBoard::TPoll& poll) { return FBoard->Transfer(sent, program, verify, poll); },
            progress));
    }

    void Stop() { FBoard->Stop(); }

    // A step under way is stopped first, within a block.
    void Close() {
        RefuseFromWithin("close()");
        FBoard->Stop();
        py::gil_scoped_release release;
        std::lock_guard<std::mutex> lock(FCall);
        FBoard->Close();
    }

    bool Closed() const { return FBoard->Closed(); }
    std::string Port() const { return Text(FBoard->ShownPort()); }
    std::uint32_t Baud() const { return FBoard->Baud(); }

    std::string Repr() const {
        return Text(QStringLiteral("Board('%1', baud=%2%3)")
                        .arg(FBoard->ShownPort())
                        .arg(FBoard->Baud())
                        .arg(FBoard->Closed() ? QStringLiteral(", closed") : QString()));
    }

private:
    // One step at a time a board; each raises the exception of its failure.
    TScriptOutcome Run(const std::function<TScriptOutcome(const TScriptBoard::TPoll&)>& step,
                       const py::object& progress) {
        RefuseFromWithin("a step");
        // The board's thread stayed behind in the parent: its steps would wait for ever.
        if (QCoreApplication::applicationPid() != FPid)
            throw std::runtime_error("tervolt: a Board cannot be used in a process forked after it was made; "
                                     "make it in the process that uses it");
        TCallerPoll poll(*FBoard, progress);
        TScriptOutcome outcome;
        {
            py::gil_scoped_release release;
            std::lock_guard<std::mutex> lock(FCall);
            FStepThread.store(std::this_thread::get_id());
            try {
                outcome = step(std::ref(poll));
            } catch (...) {
                FStepThread.store(std::thread::id());
                throw;
            }
            FStepThread.store(std::thread::id());
            ParkIfEnding();
        }
        poll.RaisePending(outcome);
        if (outcome.Result.ExitStatus != esSuccess)
            RaiseFor(outcome);
        return outcome;
    }

    // The progress callback and Python's signal handlers run inside a step, on its thread: a call on the
    // same board from there would wait for the step, which waits for the call.
    void RefuseFromWithin(const char* what) const {
        if (FStepThread.load() == std::this_thread::get_id())
            throw std::runtime_error(
                std::string("tervolt: ") + what +
                " of a board cannot be called while one of its steps is under way on this "
                "thread (from its progress callback or a signal handler); stop() can");
    }

    // Python ends a thread that takes the GIL back while the interpreter ends; one that waits here for
    // the process to end leaves nothing half done.
    static void ParkIfEnding() {
        while (_Py_IsFinalizing())
            std::this_thread::sleep_for(std::chrono::seconds(1));
    }

    qint64 FPid;
    std::mutex FCall;
    std::atomic<std::thread::id> FStepThread{};
    std::unique_ptr<TScriptBoard> FBoard;
};

struct TPyPort {
    std::string Name;
    std::string Device;
    std::string Detail;
    std::optional<std::string> InUse;
};

std::vector<TPyPort> Ports() {
    std::vector<TPyPort> ports;
    for (const TSerialPortEntry& entry : ListSerialPorts())
        ports.push_back(
            {Text(entry.Name), Text(entry.Device), Text(entry.Detail), TextOrNone(InUseText(entry))});
    return ports;
}

std::vector<TPyChip> Devices(const py::object& path) {
    QString file;
    QString error;
    TDevicesList list;
    bool loaded = false;
    if (!path.is_none()) {
        file = PathOf(path);
        loaded = list.LoadFromFile(file);
        error = list.LastFailure();
    } else {
        const TDevicesFileLocation location =
            LocateDevicesFile(gModuleDirectory, QStringLiteral(TERVOLT_DATA_DIR_FROM_MODULE));
        file = location.Path.isEmpty() ? kDevicesFileName : location.Path;
        error = location.NotFoundText();
        if (!location.Path.isEmpty())
            loaded = LoadDeviceLists(list, location.Path, error);
    }
    if (!loaded)
        Throw(gKinds.DeviceListError,
              MakeError(gKinds.DeviceListError, Text(QStringLiteral("Can't load \"%1\"").arg(file)),
                        {Text(error)}, esDevicesError, py::none(), std::nullopt));
    std::vector<TPyChip> chips;
    for (const TDeviceListNode* node = list.Head(); node; node = node->Next.get())
        chips.push_back({Text(node->Manufacturer), Text(node->ID)});
    return chips;
}

PyObject* NewKind(py::module_& module, const char* name, const char* doc, PyObject* base,
                  PyObject* second = nullptr) {
    const std::string qualified = std::string("tervolt.") + name;
    py::object bases = second ? py::object(py::make_tuple(py::handle(base), py::handle(second)))
                              : py::reinterpret_borrow<py::object>(base);
    PyObject* kind = PyErr_NewExceptionWithDoc(qualified.c_str(), doc, bases.ptr(), nullptr);
    if (!kind)
        throw py::error_already_set();
    module.add_object(name, py::handle(kind));
    return kind;
}

void AddErrors(py::module_& m) {
    TErrorKinds& k = gKinds;
    k.Error = NewKind(m, "Error",
                      "A run that did not succeed. str() is tervolt-cli's text. Attributes: message (the "
                      "outcome lines), detail (the diagnostics, as a list), exit_status (tervolt-cli's exit "
                      "status for it), result (the Result, or None before a board was involved) and "
                      "flash_state (what the FLASH holds after a Program that did not finish, or None).",
                      PyExc_Exception);
    k.CompareError = NewKind(m, "CompareError",
                             "The board's FLASH differs from the image (exit status 1). Attributes: address, "
                             "expected, actual.",
                             k.Error);
    k.ImageError = NewKind(
        m, "ImageError",
        "The image cannot be read or holds nothing to send (exit status 2); nothing was sent.", k.Error);
    k.CommunicationError =
        NewKind(m, "CommunicationError", "The line to the board failed (exit status 3).", k.Error);
    k.PortError = NewKind(m, "PortError", "The port could not be opened or set up.", k.CommunicationError);
    k.NoTarget =
        NewKind(m, "NoTarget", "The port opened, but no monitor answered the ping.", k.CommunicationError);
    k.LineLost =
        NewKind(m, "LineLost",
                "The device hung up or the line failed during the run; flash_state says what the FLASH "
                "holds.",
                k.CommunicationError);
    k.GaveUp = NewKind(m, "GaveUp",
                       "A command failed more often than the retries allow; flash_state says what "
                       "the FLASH holds.",
                       k.CommunicationError);
    k.NotIdentified =
        NewKind(m, "NotIdentified", "The board did not identify its FLASH chip (exit status 4).", k.Error);
    k.ChipNotListed =
        NewKind(m, "ChipNotListed",
                "The chip answered but is not in the device list. Attributes: manufacturer, device.",
                k.NotIdentified);
    k.Interrupted =
        NewKind(m, "Interrupted",
                "The run was stopped: Ctrl-C or Board.stop() (exit status 5); flash_state says what "
                "the FLASH holds. Also a KeyboardInterrupt.",
                k.Error, PyExc_KeyboardInterrupt);
    k.DeviceListError = NewKind(m, "DeviceListError",
                                "The device list is missing or cannot be read (exit status 6).", k.Error);
    k.UsageError = NewKind(m, "UsageError",
                           "An argument names no port, rate or format (exit status 64). Also a ValueError.",
                           k.Error, PyExc_ValueError);
}

// Qt delivers no event, timers included, to a process without an application object; one made here
// serves every board's thread and is never run itself. A script that made its own (a Qt window on the
// same Qt library) keeps it.
void EnsureApplication() {
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "tervolt";
    static char* argv[] = {name, nullptr};
    // Lives as long as the process: Python may unload nothing of an extension module.
    new QCoreApplication(argc, argv);
}

} // namespace

PYBIND11_MODULE(_core, m) {
    EnsureApplication();
    m.doc() = "Program and verify the FLASH of target boards over a serial line (see help(tervolt)).";
    m.attr("__version__") = kTervoltVersion;
    m.def("_set_module_dir", [](const py::object& path) { gModuleDirectory = PathOf(path); });
    AddErrors(m);

    py::class_<TPyChip>(m, "Chip", "A FLASH chip: the pair the board answers to \"P ID\".")
        .def(py::init([](std::string manufacturer, std::string device) {
                 return TPyChip{std::move(manufacturer), std::move(device)};
             }),
             py::arg("manufacturer"), py::arg("device"))
        .def_readonly("manufacturer", &TPyChip::Manufacturer,
                      "The manufacturer's name, as the board gives it.")
        .def_readonly("device", &TPyChip::Device, "The device ID, as the board gives it.")
        .def("__eq__",
             [](const TPyChip& a, const TPyChip& b) {
                 return a.Manufacturer == b.Manufacturer && a.Device == b.Device;
             })
        .def("__hash__", [](const TPyChip& c) { return py::hash(py::make_tuple(c.Manufacturer, c.Device)); })
        .def("__repr__", [](const TPyChip& c) {
            return "Chip(manufacturer=" + std::string(py::repr(py::str(c.Manufacturer))) +
                   ", device=" + std::string(py::repr(py::str(c.Device))) + ")";
        });

    py::class_<TPyCompare>(m, "Compare", "Where the FLASH differs from the image.")
        .def_readonly("address", &TPyCompare::Address, "The address of the first differing byte.")
        .def_readonly("expected", &TPyCompare::Expected, "The image's byte there.")
        .def_readonly("actual", &TPyCompare::Actual, "The FLASH's byte there.")
        .def("__repr__", [](const TPyCompare& c) {
            return Text(QStringLiteral("Compare(address=0x%1, expected=0x%2, actual=0x%3)")
                            .arg(c.Address, 6, 16, QLatin1Char('0'))
                            .arg(c.Expected, 2, 16, QLatin1Char('0'))
                            .arg(c.Actual, 2, 16, QLatin1Char('0')));
        });

    py::class_<TPyResult>(m, "Result",
                          "What a step did: the fields of one board in tervolt-cli's --json output.")
        .def_readonly("port", &TPyResult::Port, "The port as it was named (COMn for a COM number).")
        .def_readonly("manufacturer", &TPyResult::Manufacturer,
                      "The chip's manufacturer; empty if not identified.")
        .def_readonly("device_id", &TPyResult::DeviceId, "The chip's device ID; empty if not identified.")
        .def_readonly("operation", &TPyResult::Operation, "\"program\", \"verify\" or \"program+verify\".")
        .def_readonly("outcome", &TPyResult::Outcome, "\"ok\" for a result that is returned.")
        .def_readonly("message", &TPyResult::Message, "The outcome lines, such as \"Program OK!\".")
        .def_readonly("exit_status", &TPyResult::ExitStatus, "tervolt-cli's exit status: 0.")
        .def_readonly("bytes", &TPyResult::Bytes,
                      "Image bytes in the blocks the board confirmed, every pass.")
        .def_readonly("seconds", &TPyResult::Seconds, "How long the step took, port work included.")
        .def_readonly("retries", &TPyResult::Retries, "Commands sent again.")
        .def_readonly("compare", &TPyResult::Compare, "A Compare where the FLASH differed, else None.")
        .def_readonly("flash_state", &TPyResult::FlashState,
                      "After a Program that did not finish: what the FLASH holds; else None.")
        .def_readonly("format", &TPyResult::Format,
                      "The format the image was read as (\"ihex\", \"elf\", ...).")
        .def_readonly("diagnostics", &TPyResult::Diagnostics,
                      "What tervolt-cli would write to standard error.")
        .def("as_dict", &TPyResult::AsDict, "The board object of tervolt-cli's --json output, as a dict.")
        .def("__repr__", [](const TPyResult& r) {
            return "Result(port=" + std::string(py::repr(py::str(r.Port))) +
                   ", operation=" + std::string(py::repr(py::str(r.Operation))) +
                   ", outcome=" + std::string(py::repr(py::str(r.Outcome))) +
                   ", bytes=" + std::to_string(r.Bytes) +
                   ", seconds=" + Text(QString::number(r.Seconds, 'f', 3)) + ")";
        });

    py::class_<TPyPort>(m, "Port", "A serial port of this machine, as `tervolt-cli ports` lists it.")
        .def_readonly("name", &TPyPort::Name, "The name to give Board: the device path, or COMn.")
        .def_readonly("device", &TPyPort::Device, "The device it opens.")
        .def_readonly("detail", &TPyPort::Detail,
                      "A stable name (/dev/serial/by-id/...), or where a COMn name leads.")
        .def_readonly("in_use", &TPyPort::InUse, "Who holds the port, when another program does; else None.")
        .def("__repr__",
             [](const TPyPort& p) { return "Port(name=" + std::string(py::repr(py::str(p.Name))) + ")"; });

    py::class_<TPyImage>(
        m, "Image",
        "An image file, read and checked once: a board is sent these bytes even when the file\n"
        "changes afterwards.\n\n"
        "format: None (the name, then the content decide, as tervolt-cli without --format),\n"
        "\"auto\", \"hex\", \"ihex\", \"srec\", \"elf\" or \"bin\". start and size_header concern\n"
        "binary images: where they go, and whether a 4-byte size header goes first.\n"
        "Raises ImageError when the file cannot be read or holds nothing to send.")
        .def(py::init<const py::object&, const std::optional<std::string>&, std::uint32_t, bool>(),
             py::arg("path"), py::arg("format") = py::none(), py::arg("start") = 0,
             py::arg("size_header") = true)
        .def_property_readonly("path", &TPyImage::Path, "The file's name.")
        .def_property_readonly("format", &TPyImage::Format, "The format it was read as.")
        .def_property_readonly(
            "total", [](const TPyImage& i) { return i.Image().Total; },
            "The bytes the blocks carry (a binary image's size header included): the progress total.")
        .def_property_readonly(
            "data_size", [](const TPyImage& i) { return i.Image().DataSize; }, "The image's own bytes.")
        .def_property_readonly(
            "start", [](const TPyImage& i) { return i.Image().StartAddress; },
            "A binary image's start address.")
        .def_property_readonly(
            "size_header", [](const TPyImage& i) { return i.Image().WriteSizeHeader; },
            "Whether a binary image is sent with its size header.")
        .def_property_readonly("note", &TPyImage::Note, "What the reader said of the image, or None.")
        .def_property_readonly("blocks", &TPyImage::Blocks,
                               "The blocks a Program sends, in order: (address, length) tuples.")
        .def("__repr__", &TPyImage::Repr);

    py::class_<TPyBoard>(
        m, "Board",
        "A board on a serial port, opened at once and kept open until close() (or the end of\n"
        "a with block). Every step does what tervolt-cli does for its command: ping()\n"
        "pings the monitor, identify() pings and identifies the chip, program() and verify()\n"
        "ping, identify and then send the image. A failure raises the tervolt.Error of its\n"
        "kind; success returns.\n\n"
        "port: a device path, COMn, or an rfc2217:// or socket:// URL. devices: a device list\n"
        "to use alone; None finds it as the programs do (with the per-user additions).\n"
        "retries: how often a failed command is sent again before the step fails.\n\n"
        "The GIL is released while a step runs, so boards on several threads run at once.\n"
        "One step at a time on one board. stop() may be called from any thread, also from the\n"
        "step's own progress callback, where the board's other methods may not.")
        .def(py::init<const py::object&, long long, const py::object&, long long>(), py::arg("port"),
             py::arg("baud") = 115200, py::arg("devices") = py::none(), py::arg("retries") = 3)
        .def("ping", &TPyBoard::Ping, "Pings the monitor. Raises NoTarget when it does not answer.")
        .def("identify", &TPyBoard::Identify,
             "Pings, asks the chip's identity and looks it up in the device list; returns the Chip.\n"
             "Raises NotIdentified, or ChipNotListed for a chip the list does not hold.")
        .def(
            "program",
            [](TPyBoard& b, const py::object& image, bool verify, const std::optional<std::string>& format,
               const std::optional<std::uint32_t>& start, const std::optional<bool>& sizeHeader,
               const py::object& progress) {
                return b.Transfer(image, true, verify, format, start, sizeHeader, progress);
            },
            py::arg("image"), py::kw_only(), py::arg("verify") = false, py::arg("format") = py::none(),
            py::arg("start") = py::none(), py::arg("size_header") = py::none(),
            py::arg("progress") = py::none(),
            "Programs the image (a path or an Image), then verifies it when verify is true; returns the\n"
            "Result. progress(done, total) is called on the calling thread as the board confirms blocks\n"
            "(with verify, total counts both passes); an exception it raises stops the run and is raised\n"
            "again. format, start (default 0) and size_header (default True) apply to a path, as Image\n"
            "takes them.")
        .def(
            "verify",
            [](TPyBoard& b, const py::object& image, const std::optional<std::string>& format,
               const std::optional<std::uint32_t>& start, const std::optional<bool>& sizeHeader,
               const py::object& progress) {
                return b.Transfer(image, false, false, format, start, sizeHeader, progress);
            },
            py::arg("image"), py::kw_only(), py::arg("format") = py::none(), py::arg("start") = py::none(),
            py::arg("size_header") = py::none(), py::arg("progress") = py::none(),
            "Has the board compare its FLASH with the image; returns the Result. Raises CompareError\n"
            "with the first differing address.")
        .def("stop", &TPyBoard::Stop,
             "From any thread: stops the step under way within a block, or the next step when none runs;\n"
             "the stopped step raises Interrupted.")
        .def("close", &TPyBoard::Close,
             "Stops a step under way (within a block), then closes the port and ends the board's thread.\n"
             "Later steps raise LineLost.")
        .def_property_readonly("closed", &TPyBoard::Closed, "True once close() was called.")
        .def_property_readonly("port", &TPyBoard::Port, "The port as it was named (COMn for a COM number).")
        .def_property_readonly("baud", &TPyBoard::Baud, "The line's rate.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__",
             [](TPyBoard& b, const py::args&) {
                 b.Close();
                 return false;
             })
        .def("__repr__", &TPyBoard::Repr);

    m.def("ports", &Ports, "The serial ports of this machine, as `tervolt-cli ports` lists them.");
    m.def("devices", &Devices, py::arg("path") = py::none(),
          "The chips of the device list (found as the programs find it, with the per-user additions,\n"
          "or the list at path alone). Raises DeviceListError when it cannot be read.");
}
