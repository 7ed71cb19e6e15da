#include "messages.h"

#include "morix/text_encoding.h"

namespace morix::builder {
namespace {

struct Language {
    const char* atLeast; // the version bounds: {1} the minimum, {2} the maximum
    const char* atMost;
    const char* between;
    const char* directory;
    const char* environment;
    const char* path;
    const char* registry;
    const char* always;
    // Texts by id; the one for 1016 has "%BOUNDS%" and "%PLACES%" in it.
    std::vector<std::pair<int32_t, const char*>> texts;
};

const Language kEnglish = {
    "version {1} or later",
    "version {2} or earlier",
    "a version from {1} to {2}",
    "the directory {1}",
    "the directory named by the variable {1}",
    "java.exe on PATH",
    "the Windows registry",
    "MORIX_JAVA_HOME",
    {
        {1000, "Application error"},
        {1005, "The Java runtime registered in the Windows registry could not be loaded. Repair or reinstall "
               "that Java installation, or set MORIX_JAVA_HOME to the directory of another runtime."},
        {1006, "A file that the application needs is missing: {0}. Reinstall the application; the file is "
               "expected relative to the launcher's directory."},
        {1008, "The environment variable {0}, which the application needs, is not set. Set it and start the "
               "application again."},
        {1009, "An internal error occurred (code {0}). Codes 7, 11 and 16: the launcher could not write its "
               "temporary files; check that the directory named by TMP exists, is writable and has free "
               "space. Code 20: the runtime's unpack200 program could not be started. Set MORIX_LOG=yes "
               "for a log of the start."},
        {1010, "The launcher class of the application (com.morix.runtime.WinLauncher) was not found: "
               "morix-runtime.jar is missing from the class path. Rebuild the launcher with the runtime "
               "jar included."},
        {1011, "The launcher class of the application has no main method: the morix-runtime.jar on the "
               "class path is damaged or of another version. Rebuild the launcher with the runtime jar "
               "included."},
        {1015, "No usable temporary directory was found. Set TMP or TEMP to an existing directory that "
               "you can write to."},
        {1016, "No suitable {0}-bit Java runtime was found%BOUNDS%. The launcher looked in %PLACES%. Install "
               "a runtime in one of these places, or set MORIX_JAVA_HOME to its directory; set "
               "MORIX_LOG=yes for a log of the search."},
        {1017, "The Java runtime named by the environment variable {0} could not be used. Point the variable "
               "at the directory of a suitable runtime (the one that holds bin\\java.exe), or remove it."},
        {1019, "The Java runtime in the directory {0} could not be loaded. Reinstall the runtime there, or "
               "remove the directory so that another runtime is searched for."},
    },
};

const Language kGerman = {
    "Version {1} oder neuer",
    "Version {2} oder älter",
    "eine Version von {1} bis {2}",
    "das Verzeichnis {1}",
    "das Verzeichnis aus der Variablen {1}",
    "java.exe im PATH",
    "die Windows-Registrierung",
    "MORIX_JAVA_HOME",
    {
        {1000, "Anwendungsfehler"},
        {1005, "Die in der Windows-Registrierung eingetragene Java-Laufzeit konnte nicht geladen werden. "
               "Reparieren oder installieren Sie diese Java-Installation neu, oder setzen Sie "
               "MORIX_JAVA_HOME auf das Verzeichnis einer anderen Laufzeit."},
        {1006, "Eine Datei, die die Anwendung braucht, fehlt: {0}. Installieren Sie die Anwendung neu; die "
               "Datei wird relativ zum Verzeichnis des Starters erwartet."},
        {1008, "Die Umgebungsvariable {0}, die die Anwendung braucht, ist nicht gesetzt. Setzen Sie sie und "
               "starten Sie die Anwendung erneut."},
        {1009, "Ein interner Fehler ist aufgetreten (Code {0}). Codes 7, 11 und 16: Der Starter konnte seine "
               "temporären Dateien nicht schreiben; prüfen Sie, ob das Verzeichnis aus TMP existiert, "
               "beschreibbar ist und freien Platz hat. Code 20: Das Programm unpack200 der Laufzeit konnte "
               "nicht gestartet werden. Setzen Sie MORIX_LOG=yes für ein Protokoll des Starts."},
        {1010, "Die Starterklasse der Anwendung (com.morix.runtime.WinLauncher) wurde nicht gefunden: "
               "morix-runtime.jar fehlt im Klassenpfad. Erstellen Sie den Starter neu, mit der "
               "Laufzeit-JAR-Datei."},
        {1011, "Die Starterklasse der Anwendung hat keine main-Methode: Die morix-runtime.jar im Klassenpfad "
               "ist beschädigt oder hat eine andere Version. Erstellen Sie den Starter neu, mit der "
               "Laufzeit-JAR-Datei."},
        {1015, "Es wurde kein nutzbares temporäres Verzeichnis gefunden. Setzen Sie TMP oder TEMP auf ein "
               "vorhandenes Verzeichnis, in das Sie schreiben dürfen."},
        {1016, "Es wurde keine passende {0}-Bit-Java-Laufzeit gefunden%BOUNDS%. Der Starter hat gesucht in: "
               "%PLACES%. Installieren Sie eine Laufzeit an einem dieser Orte, oder setzen Sie "
               "MORIX_JAVA_HOME auf ihr Verzeichnis; setzen Sie MORIX_LOG=yes für ein Protokoll der Suche."},
        {1017,
         "Die Java-Laufzeit aus der Umgebungsvariablen {0} konnte nicht verwendet werden. Lassen Sie die "
         "Variable auf das Verzeichnis einer passenden Laufzeit zeigen (das bin\\java.exe enthält), "
         "oder entfernen Sie sie."},
        {1019, "Die Java-Laufzeit im Verzeichnis {0} konnte nicht geladen werden. Installieren Sie die "
               "Laufzeit dort neu, oder entfernen Sie das Verzeichnis, damit eine andere Laufzeit gesucht "
               "wird."},
    },
};

std::string replaced(std::string text, const std::string& what, const std::string& with) {
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size())) {
        text.replace(at, what.size(), with);
    }
    return text;
}

std::string value(const std::map<int32_t, std::string>& ids, int32_t id) {
    auto it = ids.find(id);
    return it == ids.end() ? "" : payload::cp1252ToUtf8(it->second);
}

// The search as the user can check it: the configured entries, then the variable always consulted.
std::string places(const Language& language, const std::map<int32_t, std::string>& ids) {
    std::vector<std::string> list;
    std::string sequence = value(ids, 128);
    size_t start = 0;
    while (start <= sequence.size() && list.size() < 20) {
        size_t end = sequence.find(';', start);
        std::string entry =
            sequence.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!entry.empty()) {
            const std::string text = entry.substr(1);
            switch (entry[0]) {
            case 'A':
            case 'B':
            case 'R':
                list.push_back(replaced(language.directory, "{1}", text));
                break;
            case 'E':
                list.push_back(replaced(language.environment, "{1}", text));
                break;
            case 'S':
                list.push_back(language.path);
                break;
            case 'Y':
                list.push_back(language.registry);
                break;
            default:
                break;
            }
        }
        if (end == std::string::npos) {
            break;
        }
        start = end + 1;
    }
    list.push_back(language.always);
    std::string text;
    for (size_t i = 0; i < list.size(); ++i) {
        text += (i == 0 ? "" : ", ") + list[i];
    }
    return text;
}

std::string bounds(const Language& language, const std::map<int32_t, std::string>& ids) {
    const std::string min = value(ids, 126);
    const std::string max = value(ids, 127);
    std::string text = min.empty() && max.empty() ? ""
                       : max.empty()              ? language.atLeast
                       : min.empty()              ? language.atMost
                                                  : language.between;
    text = replaced(replaced(text, "{1}", min), "{2}", max);
    return text.empty() ? "" : " (" + text + ")";
}

MessageTexts texts(const Language& language, const std::map<int32_t, std::string>& ids) {
    MessageTexts result;
    for (const auto& [id, text] : language.texts) {
        std::string filled = text;
        if (id == 1016) {
            filled = replaced(replaced(filled, "%BOUNDS%", bounds(language, ids)), "%PLACES%",
                              places(language, ids));
        }
        result.emplace_back(id, *payload::utf8ToUtf16(filled));
    }
    return result;
}

} // namespace

MessageTexts defaultMessages(const std::map<int32_t, std::string>& ids) {
    return texts(kEnglish, ids);
}

std::optional<MessageTexts> includedMessageSet(const std::string& name,
                                               const std::map<int32_t, std::string>& ids) {
    if (name == "de") {
        return texts(kGerman, ids);
    }
    return std::nullopt;
}

std::vector<std::string> includedMessageSetNames() {
    return {"de"};
}

} // namespace morix::builder
