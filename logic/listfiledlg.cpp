// The dialog's list file operations: loaded while the dialog initialises, written on OK.
// Both raise their file errors to the caller.

#include <algorithm>
#include <vector>

#include "base/platform.h"
#include "framework/file.h"
#include "logic/keepalivedlg.h"
#include "logic/listfile.h"
#include "res/resource.h"

namespace {

// More than any real list: a larger file is read only this far instead of exhausting memory.
constexpr std::uint64_t kMaxListFileBytes = 16u << 20;

}  // namespace

void CKeepAliveDlg::LoadListFile() {
    // No fixed buffer: any working directory the system reports will do.
    m_strListPath = Platform().JoinPath(Platform().GetCurrentDirectory(), kListFileName);
    m_bCycling = FALSE;
    m_bSound = TRUE;

    CFile file(Platform());
    CFileException error;
    if (!file.Open(m_strListPath, FileMode::Read, &error)) {
        // No list yet is the first start, and quiet; one that is there but cannot be read
        // (permissions, another program holding it, a directory by that name) is said.
        if (error.m_cause != CFileException::fileNotFound) throw error;
        return;
    }
    const std::uint64_t length = file.GetLength();
    // Empty or a single byte: nothing to load, as if there were no file.
    if (length <= 1) return;

    std::vector<char> buffer(static_cast<std::size_t>(std::min(length, kMaxListFileBytes)));
    std::size_t filled = 0;
    while (filled < buffer.size()) {
        const UINT got =
            file.Read(buffer.data() + filled, static_cast<UINT>(buffer.size() - filled));
        if (got == 0) break;  // the file shrank meanwhile: use what is there
        filled += got;
    }

    const CListFileData data = ParseListFile(buffer.data(), filled);
    if (data.nDelay) m_nDelay = *data.nDelay;
    // A delay from the file gets the same bounds as one typed in: 0 would probe without
    // pause, a negative or huge one would wrap the timer period.
    m_nDelay = std::clamp(m_nDelay, kMinDelay, kMaxDelay);
    if (data.bCycleOnNoContact) m_bCycleOnNoContact = *data.bCycleOnNoContact;
    if (data.bSound) m_bSound = *data.bSound;
    m_lbServers.AddStrings(data.servers);

    UpdateData(FALSE);
    SetTrayIcon(IDI_MAIN);
    StartCycle();
    file.Close();
}

void CKeepAliveDlg::SaveListFile() {
    std::vector<CString> servers;
    for (int i = 0; i < m_lbServers.GetCount(); ++i) {
        CString entry;
        m_lbServers.GetText(i, entry);
        servers.push_back(entry);
    }
    const CString text = FormatListFile(m_nDelay, m_bCycleOnNoContact, m_bSound, servers);

    // A list file that is a link stays one: the text goes where the link leads.
    const CString listPath = Platform().JoinPath(Platform().GetCurrentDirectory(), kListFileName);
    CString target;
    if (const int error = Platform().ResolveSavePath(listPath, target))
        throw CFileException(error, listPath);

    // The new text goes to a file of its own, reaches the disk, and only then takes the
    // list file's place: a crash, a kill or a full disk midway leaves the old list whole. It
    // is made next to the target, as a rename cannot leave its file system.
    CFile file(Platform());
    CFileException error;
    // Its cause (no room, a read-only mount, too long a name) names the file the user knows.
    if (!file.OpenTemp(target + ".", &error)) throw CFileException(error.m_lOsError, target);
    const CString tempPath = file.GetOpenedPath();
    // Errors name the file written: the list file, or where its link leads.
    file.SetFilePath(target);
    // Whatever goes wrong below, the temporary file does not stay behind. It is closed first:
    // Windows deletes no file that is still open.
    bool written = false;
    struct CTempRemover {
        CPlatform& platform;
        CFile& file;
        const CString& path;
        const bool& keep;
        ~CTempRemover() {
            if (keep) return;
            file.Abort();
            platform.DeleteFile(path);
        }
    } remover{Platform(), file, tempPath, written};
    file.Write(text.data(), static_cast<UINT>(text.size()));
    file.Flush();
    file.Close();
    CFile::Replace(Platform(), tempPath, target, target);
    written = true;
}
