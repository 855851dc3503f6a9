#pragma once

#include "Mode.h"

#include <optional>
#include <string>

namespace vardel {

class Model;

// The small texts below and over the live picture: the control row's state text, the context line (symbol,
// primary and secondary line, at most one link) and the note over the picture. A pure function of a
// snapshot of the model's published state, in the current language; any thread.
struct StatusLines {
    enum class SymbolColour { accent, secondary };
    enum class Link { none, cameraHelp, viewPhoto };
    enum class Note { none, format, personChip };

    struct Input {
        Mode mode = Mode::off;
        std::optional<double> monitorSince {};
        std::optional<double> lastEvent {};
        std::optional<double> lastPhotoSentAt {};
        bool photoPending = false;
        std::optional<bool> telegramOK {};
        int queue = 0;
        std::string chatLabel = "-";
        std::optional<bool> onAC {};
        bool permissionDenied = false;
        std::optional<double> personAt {};
        bool hasPersonBoxes = false;
        bool editingArea = false;
        std::optional<std::string> formatInfo {};
        double now = 0;

        static Input from(const Model& model, double now);
    };

    // Seconds the person chip and the spotlight stay after a detection with people.
    static constexpr double personShownFor = 10;

    std::string control;
    std::string symbol;
    SymbolColour symbolColour = SymbolColour::secondary;
    std::string primary;
    std::string secondary;
    Link link = Link::none;
    Note note = Note::none;
    std::string noteText;

    static StatusLines make(const Input& input);
    static bool personVisible(const Input& input);

    bool operator==(const StatusLines&) const = default;
};

} // namespace vardel
