#include "StatusLines.h"

#include "Captions.h"
#include "L.h"
#include "Model.h"

namespace vardel {

StatusLines::Input StatusLines::Input::from(const Model& model, double now)
{
    Input input;
    input.mode = model.mode();
    input.monitorSince = model.monitorSince();
    input.lastEvent = model.lastEvent();
    input.lastPhotoSentAt = model.lastPhotoSentAt();
    input.photoPending = model.photoPending();
    input.telegramOK = model.telegramOK();
    input.queue = model.queue();
    input.chatLabel = model.chatLabel();
    input.onAC = model.onAC();
    input.permissionDenied = model.permissionDenied();
    input.personAt = model.personAt();
    input.hasPersonBoxes = !model.personBoxes().empty();
    input.editingArea = model.editingArea();
    input.formatInfo = model.formatInfo();
    input.now = now;
    return input;
}

bool StatusLines::personVisible(const Input& input)
{
    return input.personAt && input.now - *input.personAt < personShownFor && input.hasPersonBoxes;
}

StatusLines StatusLines::make(const Input& in)
{
    const AppLanguage language = L::language();
    auto hourMinute = [language](double date) { return Captions::hourMinute(date, language); };
    StatusLines lines;

    const bool monitoring = in.mode == Mode::monitor;
    lines.control = monitoring && in.monitorSince ? L::t(K::ctlOnSince, { hourMinute(*in.monitorSince) })
        : monitoring                              ? L::t(K::ctlOn)
                                                  : L::t(K::ctlOff);

    const bool recentEvent = in.lastEvent && in.monitorSince && *in.lastEvent >= *in.monitorSince;
    lines.symbol = "clock";
    if (recentEvent && in.lastPhotoSentAt) {
        lines.symbol = "checkmark.circle.fill";
        lines.symbolColour = SymbolColour::accent;
        lines.primary = L::t(K::ctxPhotoSent, { hourMinute(*in.lastPhotoSentAt) });
    } else if (recentEvent && !in.photoPending) {
        // The photo was never queued (it could not be written) or was refused for good: nothing is on its
        // way, so the line tells when the alert happened instead of promising a photo.
        lines.primary = L::t(K::ctxLastAlert, { Captions::dayTime(*in.lastEvent, language) });
    } else if (recentEvent) {
        lines.symbol = "paperplane";
        lines.primary = in.telegramOK == false ? L::t(K::ctxPhotoQueued) : L::t(K::ctxSending);
    } else if (in.monitorSince) {
        lines.primary = L::t(K::ctxNoAlertSince, { hourMinute(*in.monitorSince) });
    } else if (in.lastEvent) {
        lines.primary = L::t(K::ctxLastAlert, { Captions::dayTime(*in.lastEvent, language) });
    } else {
        lines.primary = L::t(K::ctxNoAlerts);
    }

    if (in.telegramOK == true)
        lines.secondary = L::t(K::ctxTgConnected);
    else if (in.telegramOK == false) {
        lines.secondary = L::t(K::ctxTgOffline);
        if (in.queue >= 1)
            lines.secondary += " · " + L::t(K::ctxQueued, { std::to_string(in.queue) });
    } else
        lines.secondary = in.chatLabel == "-" ? L::t(K::ctxTgNotSet) : L::t(K::ctxTgTo, { in.chatLabel });
    if (in.onAC)
        lines.secondary += " · " + L::t(*in.onAC ? K::ctxOnAC : K::ctxOnBattery);

    lines.link = in.permissionDenied ? Link::cameraHelp : in.lastEvent ? Link::viewPhoto : Link::none;

    if (in.formatInfo) {
        lines.note = Note::format;
        lines.noteText = *in.formatInfo;
    } else if (personVisible(in) && !in.editingArea) {
        lines.note = Note::personChip;
        lines.noteText = L::t(K::camPersonChip, { Captions::time(*in.personAt, language) });
    }
    return lines;
}

} // namespace vardel
