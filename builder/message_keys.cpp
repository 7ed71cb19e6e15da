#include "message_keys.h"

#include "morix/message_ids.h"

namespace morix::builder {

namespace {

constexpr MessageKey kMessageKeys[] = {
    {messages::kCaption, "caption", "the caption of the message box", "none", "Application error",
     "Anwendungsfehler"},
    {messages::kRegistryRuntime, "registry_runtime", "the runtime found in the registry could not be loaded",
     "none",
     "The Java runtime registered in the Windows registry could not be loaded. Repair or reinstall "
     "that Java installation, or set MORIX_JAVA_HOME to the directory of another runtime.",
     "Die in der Windows-Registrierung eingetragene Java-Laufzeit konnte nicht geladen werden. "
     "Reparieren oder installieren Sie diese Java-Installation neu, oder setzen Sie "
     "MORIX_JAVA_HOME auf das Verzeichnis einer anderen Laufzeit."},
    {messages::kMissingFile, "missing_file", "a required class path or module path entry is missing",
     "the entry",
     "A file that the application needs is missing: {0}. Reinstall the application; the file is "
     "expected relative to the launcher's directory.",
     "Eine Datei, die die Anwendung braucht, fehlt: {0}. Installieren Sie die Anwendung neu; die "
     "Datei wird relativ zum Verzeichnis des Starters erwartet."},
    {messages::kMissingVariable, "missing_variable", "a required environment variable is not defined",
     "the variable",
     "The environment variable {0}, which the application needs, is not set. Set it and start the "
     "application again.",
     "Die Umgebungsvariable {0}, die die Anwendung braucht, ist nicht gesetzt. Setzen Sie sie und "
     "starten Sie die Anwendung erneut."},
    {messages::kInternalError, "internal_error",
     "an internal failure: 7 no temporary directory, 11 an included file not created, 16 the "
     "extraction failed, 20 unpack200 not started",
     "the code",
     "An internal error occurred (code {0}). Codes 7, 11 and 16: the launcher could not write its "
     "temporary files; check that the directory named by TMP exists, is writable and has free "
     "space. Code 20: the runtime's unpack200 program could not be started. Set MORIX_LOG=yes "
     "for a log of the start.",
     "Ein interner Fehler ist aufgetreten (Code {0}). Codes 7, 11 und 16: Der Starter konnte seine "
     "temporären Dateien nicht schreiben; prüfen Sie, ob das Verzeichnis aus TMP existiert, "
     "beschreibbar ist und freien Platz hat. Code 20: Das Programm unpack200 der Laufzeit konnte "
     "nicht gestartet werden. Setzen Sie MORIX_LOG=yes für ein Protokoll des Starts."},
    {messages::kLauncherClass, "launcher_class", "the Java side's launcher class is not on the class path",
     "none",
     "The launcher class of the application (com.morix.runtime.WinLauncher) was not found: "
     "morix-runtime.jar is missing from the class path. Rebuild the launcher with the runtime "
     "jar included.",
     "Die Starterklasse der Anwendung (com.morix.runtime.WinLauncher) wurde nicht gefunden: "
     "morix-runtime.jar fehlt im Klassenpfad. Erstellen Sie den Starter neu, mit der "
     "Laufzeit-JAR-Datei."},
    {messages::kMainMethod, "main_method", "the launcher class has no main method", "none",
     "The launcher class of the application has no main method: the morix-runtime.jar on the "
     "class path is damaged or of another version. Rebuild the launcher with the runtime jar "
     "included.",
     "Die Starterklasse der Anwendung hat keine main-Methode: Die morix-runtime.jar im Klassenpfad "
     "ist beschädigt oder hat eine andere Version. Erstellen Sie den Starter neu, mit der "
     "Laufzeit-JAR-Datei."},
    {messages::kNoTempDirectory, "no_temp_directory", "no usable temporary directory", "none",
     "No usable temporary directory was found. Set TMP or TEMP to an existing directory that "
     "you can write to.",
     "Es wurde kein nutzbares temporäres Verzeichnis gefunden. Setzen Sie TMP oder TEMP auf ein "
     "vorhandenes Verzeichnis, in das Sie schreiben dürfen."},
    {messages::kNoRuntime, "no_runtime", "no suitable Java runtime was found", "the bitness, 32",
     "No suitable {0}-bit Java runtime was found%BOUNDS%. The launcher looked in %PLACES%. Install "
     "a runtime in one of these places, or set MORIX_JAVA_HOME to its directory; set "
     "MORIX_LOG=yes for a log of the search.",
     "Es wurde keine passende {0}-Bit-Java-Laufzeit gefunden%BOUNDS%. Der Starter hat gesucht in: "
     "%PLACES%. Installieren Sie eine Laufzeit an einem dieser Orte, oder setzen Sie "
     "MORIX_JAVA_HOME auf ihr Verzeichnis; setzen Sie MORIX_LOG=yes für ein Protokoll der Suche."},
    {messages::kEnvironmentRuntime, "environment_runtime",
     "the runtime named by an environment variable could not be loaded", "the variable",
     "The Java runtime named by the environment variable {0} could not be used. Point the variable "
     "at the directory of a suitable runtime (the one that holds bin\\java.exe), or remove it.",
     "Die Java-Laufzeit aus der Umgebungsvariablen {0} konnte nicht verwendet werden. Lassen Sie die "
     "Variable auf das Verzeichnis einer passenden Laufzeit zeigen (das bin\\java.exe enthält), "
     "oder entfernen Sie sie."},
    {messages::kDirectoryRuntime, "directory_runtime",
     "the runtime in a configured directory could not be loaded", "the directory",
     "The Java runtime in the directory {0} could not be loaded. Reinstall the runtime there, or "
     "remove the directory so that another runtime is searched for.",
     "Die Java-Laufzeit im Verzeichnis {0} konnte nicht geladen werden. Installieren Sie die "
     "Laufzeit dort neu, oder entfernen Sie das Verzeichnis, damit eine andere Laufzeit gesucht "
     "wird."},
};

} // namespace

const std::vector<MessageKey>& messageKeys() {
    static const std::vector<MessageKey> keys(std::begin(kMessageKeys), std::end(kMessageKeys));
    return keys;
}

const MessageKey* findMessageKey(std::string_view name) {
    for (const MessageKey& key : messageKeys()) {
        if (key.name == name) {
            return &key;
        }
    }
    return nullptr;
}

const MessageKey* findMessageKey(int32_t id) {
    for (const MessageKey& key : messageKeys()) {
        if (key.id == id) {
            return &key;
        }
    }
    return nullptr;
}

} // namespace morix::builder
