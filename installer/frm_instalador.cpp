#include "installer/frm_instalador.h"

#include <windows.h>

#include <memory>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "host/host.h"
#include "registry/registro.h"
#include "resources/resource.h"
#include "runtime/checked.h"
#include "runtime/handles.h"
#include "runtime/resources.h"
#include "runtime/strings.h"
#include "update/rules.h"
#include "update/integrity.h"
#include "update/queued_names.h"
#include "update/replacement_lock.h"

namespace {

constexpr wchar_t kSharedDllKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDLLs";
constexpr wchar_t kMarker[] = L"microsoft shared";
constexpr wchar_t kProofingSuffix[] = L"Microsoft Shared\\PROOF";
constexpr wchar_t kEngineFile[] = L"\\QUENDOR.DLL";
constexpr wchar_t kLexiconFile[] = L"\\QUENDOR.LEX";
constexpr wchar_t kMessageTitle[] = L"Instalador corrector de galego Brenca";
constexpr wchar_t kFailureMessage[] = L"Non \u00E9 posible continuar a instalaci\u00F3n";
constexpr wchar_t kSuccessMessage[] = L"O corrector foi actualizado";
// The last line when the list beside the updater cannot be read: code 8 as
// for damaged files, though the files themselves may well be sound.
constexpr wchar_t kUnreadableListEnd[] =
    L"non se pode ler a lista QUENDOR.LST que est\u00E1 ao car\u00F3n do actualizador; non se tocou nada";
// The last lines when Windows, not the files, stops the update: code 1.
constexpr wchar_t kNoSha256End[] =
    L"este Windows non ten SHA-256 para comprobar a lista QUENDOR.LST (precisa Windows XP SP3 ou posterior); non se "
    L"tocou nada";
constexpr wchar_t kNeedsAdministratorEnd[] =
    L"sen dereitos de administrador non se pode escribir no cartafol de correcci\u00F3n; non se tocou nada";

// What the person is told, and what the exit code says, for each way the
// update ends without failing.
struct Desenlace {
    int codigo;
    int mensaxe;  // in the string table; 0 for the success message
};

constexpr Desenlace DesenlaceDe(update::Outcome actualizacion) noexcept {
    switch (actualizacion) {
    case update::Outcome::kInstalledIsNewer: return {host::kExitUpdated, IDS_INSTALLED_NEWER};
    case update::Outcome::kAtNextRestart: return {host::kExitAtNextRestart, IDS_AT_NEXT_RESTART};
    default: return {host::kExitUpdated, 0};
    }
}

// The files of the pair in the proofing folder, the lock file and the copies
// staged beside them, this run's or an earlier one's still queued (those
// whose long name the restart queue takes for the updater's; the search
// also matches short names): none of them may be the log.
std::vector<std::wstring> FicheirosDoCartafol(const std::wstring& carpeta) {
    std::vector<std::wstring> ficheiros = {carpeta + kEngineFile, carpeta + kLexiconFile,
                                           carpeta + L"\\" + update::kLockFileName};
    WIN32_FIND_DATAW atopado;
    const runtime::FindHandle busca(FindFirstFileW((carpeta + L"\\QND*").c_str(), &atopado));
    for (bool mais = static_cast<bool>(busca); mais; mais = FindNextFileW(busca.Get(), &atopado) != FALSE) {
        if (update::OwnCopyName(atopado.cFileName)) ficheiros.push_back(carpeta + L"\\" + atopado.cFileName);
    }
    return ficheiros;
}

}  // namespace

std::vector<std::wstring> FicheirosNovos() {
    std::wstring orixe = host::AppPath();
    // A drive root ("D:\") loses its backslash, which the file names bring.
    if (orixe.ends_with(L'\\')) orixe.pop_back();
    return {orixe + kEngineFile, orixe + kLexiconFile, orixe + L"\\" + update::kIntegrityListName};
}

FrmInstalador& FrmInstalador::Instance() {
    static FrmInstalador instance;
    return instance;
}

FrmInstalador::FrmInstalador()
    : Form(forms::FormLayout{4935, 1290, IDR_INSTALLER_PICTURE, IDI_PROGRAM, false}),
      Label1(*this, {240, 75, 3855, 255}, forms::kDefaultFont, forms::Label::Sizing::kFixed),
      ProgressBar1(*this, {240, 480, 4455, 495}) {}

void FrmInstalador::IncrementarProgressBar(forms::ProgressBarProperties& barra, std::int16_t i) {
    const float sum = runtime::CheckedFloat(static_cast<double>(barra.Value()) + static_cast<float>(i));
    barra.SetValue(sum);
}

void FrmInstalador::FinalizarProgressBar(forms::ProgressBarProperties& barra) {
    const std::int32_t last = runtime::ToLong(runtime::CheckedFloat(static_cast<double>(barra.Max()) - 1.0));
    const std::int32_t first = runtime::ToLong(barra.Value());
    // The counter only counts the turns; each turn steps from the bar's own value.
    for (std::int32_t counter = first; counter <= last; counter = runtime::Increment(counter)) {
        barra.SetValue(runtime::CheckedFloat(static_cast<double>(barra.Value()) + 1.0));
    }
}

void FrmInstalador::IniciarProgressBar(forms::ProgressBarProperties& barra, std::int32_t lngMin, std::int32_t lngMax,
                                       std::int32_t lngVal) {
    barra.SetMin(static_cast<float>(lngMin));
    barra.SetMax(static_cast<float>(lngMax));
    barra.SetValue(static_cast<float>(lngVal));
}

void FrmInstalador::Form_Load() {
    forms::CenterForm(*this);
    ProgressBar1.SetVisible(true);
    Instance().SetCaption(runtime::LoadResString(IDS_TITLE));
    Label1.SetVisible(false);
    Label1.SetCaption(runtime::LoadResString(IDS_INSTALLING_LOAD));
    IniciarProgressBar(ProgressBar1, 0, 10000, 0);
    Instalar();
}

void FrmInstalador::Instalar() {
    // What the exit code tells a deployment script when the failure path runs.
    int fallo = host::kExitFailed;
    // What the last line tells of it, when more than the exit code's meaning.
    std::wstring_view motivo;
    // Set once the files are as they will stay: from then on the outcome is
    // decided, and no later error can make them "unchanged".
    std::optional<Desenlace> desenlace;
    const auto anotarErro = [](int number) {
        host::Log({L"Erro de execuci\u00F3n ", runtime::NumberText(static_cast<unsigned>(number)), L": ",
                   runtime::ErrorDescription(number)});
    };
    // The one trap of the program: whatever failed, the user gets one message.
    const auto fallar = [this, &fallo, &motivo, &desenlace](const std::wstring& mensaxe = kFailureMessage) {
        if (desenlace) host::End(desenlace->codigo);
        FinalizarProgressBar(ProgressBar1);
        host::MsgBox(mensaxe, host::kCritical, kMessageTitle);
        host::End(fallo, motivo.empty() ? host::ExitCodeMeaning(fallo) : motivo);
    };
    // Taken once the engine is found; held to the end of the procedure, its
    // questions and messages included, and let go however it ends.
    std::optional<update::ReplacementLock> bloqueo;
    try {
        Show();
        Label1.SetVisible(true);
        std::shared_ptr<runtime::Collection> lista = Registro::LeerValoresClave(kSharedDllKey);
        host::Log({L"Nomes na clave de DLL compartidas: ", runtime::NumberText(static_cast<unsigned>(lista->Count()))});
        // An empty list stops the bar below: no folder to update.
        if (lista->Count() == 0) fallo = host::kExitNothingToUpdate;
        FinalizarProgressBar(ProgressBar1);
        Label1.SetCaption(runtime::LoadResString(IDS_INSTALLING));
        IniciarProgressBar(ProgressBar1, 0, lista->Count(), 0);

        std::wstring carpeta;
        if (Registro::BuscarEnColeccion(lista, kMarker, carpeta)) {
            host::Log({L"Entrada escollida: ", carpeta});
        } else {
            host::Log(L"Ningunha entrada cont\u00E9n \"microsoft shared\": non hai cartafol de correcci\u00F3n");
            fallo = host::kExitNothingToUpdate;
        }
        // With no entry found the position is 0, and the length -1 raises an error.
        carpeta = runtime::Left(carpeta, runtime::InStr(1, runtime::LCase(carpeta), kMarker) - 1);
        carpeta += kProofingSuffix;
        host::Log({L"Cartafol de correcci\u00F3n: ", carpeta});
        host::NoteForEvent(L"Cartafol de correcci\u00F3n: " + carpeta);
        // Only now can the log be told from the files of the pair: until this
        // passes, nothing has been written to it, nor changed.
        if (host::LogIsOneOf(FicheirosDoCartafol(carpeta))) {
            host::RefuseLog(L"\u00E9 un dos ficheiros do corrector no cartafol de correcci\u00F3n");
            host::OpenDefaultLog();
            fallo = host::kExitInvalidCommandLine;
            fallar();
        }
        host::WriteHeldLog();

        std::wstring motor = carpeta + kEngineFile;
        const bool instalado = Registro::ExisteFichero(motor);
        host::Log({instalado ? L"O motor est\u00E1 instalado: " : L"O motor non est\u00E1 instalado: ", motor});
        std::wstring origen = host::AppPath();
        if (instalado) {
            if (bloqueo.emplace(carpeta).HeldByAnotherCopy()) {
                // Another copy is replacing these files: this one changes nothing.
                FinalizarProgressBar(ProgressBar1);
                Hide();
                host::MsgBox(runtime::LoadResString(IDS_ALREADY_RUNNING), host::kInformation, kMessageTitle);
                host::End(host::kExitAlreadyRunning);
            }
            // A drive root ("D:\") loses its backslash, which the file names bring.
            if (runtime::Len(origen) == 3 && runtime::InStr(1, origen, L"\\") > 1) {
                origen = runtime::Replace(origen, L"\\", L"");
            }
            const update::Outcome actualizacion = update::UpdateFiles(
                {{origen + kEngineFile, carpeta + kEngineFile}, {origen + kLexiconFile, carpeta + kLexiconFile}});
            // The restart removes the speller: as after that restart, nothing to update.
            if (actualizacion == update::Outcome::kBeingRemoved) {
                host::MsgBox(kFailureMessage, host::kCritical, kMessageTitle);
            } else {
                desenlace = DesenlaceDe(actualizacion);
            }
        } else {
            host::MsgBox(kFailureMessage, host::kCritical, kMessageTitle);
        }
        FinalizarProgressBar(ProgressBar1);
        Hide();
        if (desenlace) {
            host::MsgBox(desenlace->mensaxe != 0 ? runtime::LoadResString(desenlace->mensaxe) : kSuccessMessage,
                         host::kInformation, kMessageTitle);
        }
        lista.reset();
        host::End(desenlace ? desenlace->codigo : host::kExitNothingToUpdate);
    } catch (const update::FileInUse&) {
        fallo = host::kExitFilesInUse;
        fallar();
    } catch (const update::DamagedFiles&) {
        // Nothing was touched: the person is told to copy the new files again.
        fallo = host::kExitDamagedFiles;
        fallar(runtime::LoadResString(IDS_DAMAGED_FILES));
    } catch (const update::UnreadableList&) {
        // The person is told to copy the list again, not the files.
        fallo = host::kExitDamagedFiles;
        motivo = kUnreadableListEnd;
        fallar(runtime::LoadResString(IDS_UNREADABLE_LIST));
    } catch (const update::NoSha256&) {
        motivo = kNoSha256End;
        fallar(runtime::LoadResString(IDS_NO_SHA256));
    } catch (const update::NeedsAdministrator&) {
        motivo = kNeedsAdministratorEnd;
        // XP's "Executar como"; from Vista on, the manifest's request was
        // passed by (UAC off, RunAsInvoker) and the right click says it otherwise.
        fallar(runtime::LoadResString(IDS_NEEDS_ADMINISTRATOR)
                   .append(L" ")
                   .append(runtime::LoadResString(host::CurrentHost().BeforeVista() ? IDS_RUN_AS_ON_XP
                                                                                     : IDS_RUN_AS_ADMINISTRATOR)));
    } catch (const update::PartlyReplaced&) {
        fallo = host::kExitPartlyReplaced;
        fallar();
    } catch (const runtime::RuntimeError& error) {
        anotarErro(error.Number());
        fallar();
    } catch (const std::bad_alloc&) {
        // A string or a list that cannot grow: the run-time error "out of memory".
        anotarErro(runtime::kOutOfMemory);
        fallar();
    }
}
