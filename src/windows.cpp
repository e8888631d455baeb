/*
 * The system, on Windows: the arguments and the files' names in Unicode,
 * the two files, the writer's thread, a whole document put in the
 * target's place (console.cpp holds the messages).
 */

#include "extern.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

/* The writer's thread: what it runs, the lock and wake-up it shares. */
static struct {
	SRWLOCK verrou = SRWLOCK_INIT;
	CONDITION_VARIABLE reveil = CONDITION_VARIABLE_INIT;
	void (*corps)();
} fil;

/* The target. */
static struct {
	bool enplace;                 /* a file on a disk written in place */
	wchar_t *volatile provisoire; /* the temporary file, until placed */
	wchar_t *cible;               /* the target's full name */
	bool existait;                /* there was a file of that name, */
	DWORD attributs;              /* with these attributes */
} but;

static int ouvrir(const char *, DWORD, DWORD, int);
static wchar_t *complet(const wchar_t *);
static int creerprovisoire(const wchar_t *);
static BOOL WINAPI interrompre(DWORD);
static DWORD WINAPI demarrer(void *);

/* The C runtime's own Unicode argument vector, split as argv is. */
extern "C" int __wgetmainargs(int *, wchar_t ***, wchar_t ***, int, int *);

/* A Windows name as UTF-8, a lone surrogate kept, so that it comes back. */
char *
versutf8(const wchar_t *w)
{
	size_t n = std::wcslen(w);
	char *a = (char *)std::malloc(3 * n + 1), *d = a;

	if (a == nullptr)
		std::exit(1);
	for (size_t i = 0; i < n; i++) {
		char32_t c = w[i];
		if (c >= 0xd800 && c <= 0xdbff && w[i + 1] >= 0xdc00 &&
		    w[i + 1] <= 0xdfff)
			c = 0x10000 + ((c - 0xd800) << 10) + (w[++i] - 0xdc00);
		d += enutf8(d, c);
	}
	*d = '\0';
	return a;
}

/* The name back in UTF-16, for the wide calls of Windows. */
wchar_t *
versutf16(const char *a)
{
	size_t n = std::strlen(a);
	auto *w = (wchar_t *)std::malloc((n + 1) * sizeof(wchar_t));
	auto *p = (const unsigned char *)a;
	wchar_t *d = w;

	if (w == nullptr)
		std::exit(1);
	while (*p != 0) {
		char32_t c = *p;
		int k = c < 0x80 ? 1 : c < 0xe0 ? 2 : c < 0xf0 ? 3 : 4, i = 1;
		c &= k == 1 ? 0x7f : 0x7f >> k;
		for (; i < k && (p[i] & 0xc0) == 0x80; i++)
			c = c << 6 | (p[i] & 0x3f);
		p += i;
		if (c >= 0x10000) {
			*d++ = (wchar_t)(0xd800 + ((c - 0x10000) >> 10));
			c = 0xdc00 + ((c - 0x10000) & 0x3ff);
		}
		*d++ = (wchar_t)c;
	}
	*d = L'\0';
	return w;
}

/*
 * Hand the Unicode arguments over in UTF-8, as on POSIX; standard error
 * binary.  In a console of its own, korvum.exe waits for a key at exit.
 */
void
preparer(int *argc, char ***argv)
{
	wchar_t **w, **env;
	int mode = 0;

	_setmode(2, _O_BINARY);
	if (__wgetmainargs(argc, &w, &env, 0, &mode) < 0)
		std::exit(1);
	auto **a = (char **)std::malloc(((size_t)*argc + 1) * sizeof(char *));
	if (a == nullptr)
		std::exit(1);
	for (int i = 0; i < *argc; i++)
		a[i] = versutf8(w[i]);
	a[*argc] = nullptr;
	*argv = a;
	if (consoleapart())
		(void)std::atexit(attendre);
}

/* A file opened by its Unicode name, as a binary descriptor. */
static int
ouvrir(const char *nom, DWORD acces, DWORD creation, int mode)
{
	wchar_t *w = versutf16(nom);
	HANDLE h = CreateFileW(w, acces, FILE_SHARE_READ | FILE_SHARE_WRITE,
	    nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
	std::free(w);
	if (h == INVALID_HANDLE_VALUE)
		return -1;
	int fd = _open_osfhandle((intptr_t)h, mode | _O_BINARY);
	if (fd < 0)
		CloseHandle(h);
	return fd;
}

/* Open the source; a folder is not a source (Windows will not open it). */
int
ouvrirsource(const char *nom)
{
	return ouvrir(nom, GENERIC_READ, OPEN_EXISTING, _O_RDONLY);
}

/* Whether nom is the open source, a file on a disk, by its identity. */
bool
memefichier(const char *nom)
{
	BY_HANDLE_FILE_INFORMATION a, b;
	HANDLE h = (HANDLE)_get_osfhandle(entree);

	if (GetFileType(h) != FILE_TYPE_DISK ||
	    !GetFileInformationByHandle(h, &a))
		return false;
	wchar_t *w = versutf16(nom);
	HANDLE t = CreateFileW(w, 0,
	    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
	    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
	std::free(w);
	if (t == INVALID_HANDLE_VALUE)
		return false;
	bool meme = GetFileInformationByHandle(t, &b) &&
	            a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
	            a.nFileIndexHigh == b.nFileIndexHigh &&
	            a.nFileIndexLow == b.nFileIndexLow;
	CloseHandle(t);
	return meme;
}

/*
 * Read up to n first bytes of the target to p, when it is a file on a
 * disk not empty (anything else, NUL or CON, is not opened: 0); -1 when
 * it cannot be read (held by another program, say).
 */
long
debutbut(const char *nom, char *p, size_t n)
{
	WIN32_FILE_ATTRIBUTE_DATA a;
	wchar_t *w = versutf16(nom);
	bool plein = GetFileAttributesExW(w, GetFileExInfoStandard, &a) &&
	             !(a.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
	             (a.nFileSizeHigh != 0 || a.nFileSizeLow != 0);
	HANDLE h = INVALID_HANDLE_VALUE;
	DWORD lus = 0;
	long r = 0;

	if (plein)
		h = CreateFileW(w, GENERIC_READ,
		    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
		    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
	std::free(w);
	if (h == INVALID_HANDLE_VALUE)
		return plein ? -1 : 0;
	if (GetFileType(h) == FILE_TYPE_DISK)
		r = ReadFile(h, p, (DWORD)n, &lus, nullptr) ? (long)lus : -1;
	CloseHandle(h);
	return r;
}

/*
 * Open the target: for a writable file on a disk of one name, or nothing
 * yet, a temporary file beside it (see fermerbut); a read-only one fails
 * (checked, as Wine run by root would open it); anything else (NUL, a
 * link, several names), or where the folder refuses one, in place.
 */
int
ouvrirbut(const char *nom)
{
	BY_HANDLE_FILE_INFORMATION i = {};
	wchar_t *w = versutf16(nom);
	HANDLE h = CreateFileW(w, GENERIC_WRITE | DELETE,
	    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
	    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
	int fd = -1;

	but.enplace = false; /* a dialogue opens a target for each list */
	but.existait = h != INVALID_HANDLE_VALUE;
	if (!but.existait && GetLastError() == ERROR_FILE_NOT_FOUND)
		fd = creerprovisoire(w);
	else if (but.existait) {
		bool disque = GetFileType(h) == FILE_TYPE_DISK &&
		              GetFileInformationByHandle(h, &i);
		CloseHandle(h);
		if (disque && (i.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) {
			std::free(w);
			return -1;
		}
		but.attributs =
		    i.dwFileAttributes &
		    (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN |
		        FILE_ATTRIBUTE_SYSTEM |
		        FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
		if (disque && i.nNumberOfLinks == 1 &&
		    !(i.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
			fd = creerprovisoire(w);
	}
	std::free(w);
	if (fd >= 0)
		return fd;
	fd = ouvrir(nom, GENERIC_WRITE, CREATE_ALWAYS, _O_WRONLY);
	if (fd >= 0)
		but.enplace =
		    GetFileType((HANDLE)_get_osfhandle(fd)) == FILE_TYPE_DISK;
	return fd;
}

/* A name's full path, allocated, or nullptr: Wine's ReplaceFileW needs it. */
static wchar_t *
complet(const wchar_t *w)
{
	DWORD n = GetFullPathNameW(w, 0, nullptr, nullptr), r = 0;
	auto *c = (wchar_t *)std::malloc((n + 1) * sizeof(wchar_t));

	if (n > 0 && c != nullptr)
		r = GetFullPathNameW(w, n + 1, c, nullptr);
	if (r == 0 || r > n) {
		std::free(c);
		return nullptr;
	}
	return c;
}

/*
 * Make the temporary file for w, korvum-XXXXXX.tmp created new in its
 * folder, removed by Ctrl+C from then on; its descriptor, or -1.
 */
static int
creerprovisoire(const wchar_t *w)
{
	static const wchar_t MODELE[] = L"korvum-XXXXXX.tmp";
	static const char CHIFFRES[] = "0123456789abcdefghijklmnopqrstuvwxyz";
	HANDLE h = INVALID_HANDLE_VALUE;
	wchar_t *c = complet(w), *t = nullptr;
	size_t d = c != nullptr ? std::wcslen(c) : 0;
	int fd = -1;

	while (d > 0 && c[d - 1] != L'\\')
		d--;
	if (c != nullptr &&
	    (t = (wchar_t *)std::malloc(d * sizeof(wchar_t) + sizeof MODELE)) !=
	        nullptr) {
		std::memcpy(t, c, d * sizeof(wchar_t));
		std::memcpy(t + d, MODELE, sizeof MODELE);
	}
	for (unsigned long essai = 0;
	     t != nullptr && h == INVALID_HANDLE_VALUE && essai < 100;
	     essai++) {
		unsigned long v = GetCurrentProcessId() * 2654435761ul +
		                  GetTickCount() + essai * 7919ul;
		for (size_t k = 0; k < 6; k++, v /= 36)
			t[d + 7 + k] = (wchar_t)CHIFFRES[v % 36];
		h = CreateFileW(t, GENERIC_WRITE,
		    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
		    FILE_ATTRIBUTE_NORMAL, nullptr);
		if (h == INVALID_HANDLE_VALUE &&
		    GetLastError() != ERROR_FILE_EXISTS)
			break;
	}
	if (h != INVALID_HANDLE_VALUE &&
	    (fd = _open_osfhandle((intptr_t)h, _O_WRONLY | _O_BINARY)) < 0) {
		CloseHandle(h);
		DeleteFileW(t);
	}
	if (fd < 0) {
		std::free(t);
		std::free(c);
		return -1;
	}
	but.provisoire = t;
	std::free(but.cible);
	but.cible = c;
	SetConsoleCtrlHandler(interrompre, TRUE);
	return fd;
}

/*
 * Ctrl+C, Ctrl+Break or the console's closing: remove the temporary file
 * (once its last handle closes), then end as the process would have.
 */
static BOOL WINAPI
interrompre(DWORD)
{
	wchar_t *t = but.provisoire;

	if (t != nullptr)
		DeleteFileW(t);
	return FALSE;
}

/* Read up to n bytes of the source, how many in *lus; false if it fails. */
bool
lire(char *p, size_t n, size_t *lus)
{
	int r = _read(entree, p, (unsigned)n);

	*lus = r < 0 ? 0 : (size_t)r;
	return r >= 0;
}

/* Write all n bytes to the target; false when it will not take them. */
bool
ecrire(const char *p, size_t n)
{
	while (n > 0) {
		int r =
		    _write(sortie, p, n > (1u << 30) ? 1u << 30 : (unsigned)n);
		if (r <= 0)
			return false;
		p += r;
		n -= (size_t)r;
	}
	return true;
}

/* Close a file; false when the close reports an error. */
bool
fermer(int fd)
{
	return _close(fd) == 0;
}

/*
 * Close the target.  A temporary file is forced, closed and put in its
 * place, so that a crash leaves either document whole: ReplaceFileW keeps
 * the old file's attributes (given beforehand too: Wine's does not), a new
 * target is moved written through.  False when any of it fails: the file
 * is then left for renoncer.
 */
bool
fermerbut()
{
	bool ok = but.provisoire == nullptr ||
	          FlushFileBuffers((HANDLE)_get_osfhandle(sortie));

	if (!fermer(sortie) || !ok)
		return false;
	if (but.provisoire == nullptr)
		return true;
	if (but.existait && but.attributs != 0)
		SetFileAttributesW(but.provisoire, but.attributs);
	ok = but.existait
	         ? ReplaceFileW(but.cible, but.provisoire, nullptr,
	               REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr)
	         : MoveFileExW(
	               but.provisoire, but.cible, MOVEFILE_WRITE_THROUGH);
	if (ok)
		but.provisoire = nullptr;
	return ok;
}

/*
 * Give up the document: remove the temporary file, so that the target
 * keeps what it held, or empty a file on a disk written in place.
 */
void
renoncer()
{
	if (but.provisoire != nullptr) {
		if (sortie >= 0)
			fermer(sortie);
		sortie = -1;
		DeleteFileW(but.provisoire);
		but.provisoire = nullptr;
	} else if (sortie >= 0 && but.enplace)
		(void)_chsize(sortie, 0);
}

/* Nothing to hold back: Ctrl+C comes to a thread of its own. */
void
tenirfins()
{
}

/* Start a thread, never waited for, that runs f; false if none. */
bool
lancer(void (*f)())
{
	fil.corps = f;
	HANDLE h = CreateThread(nullptr, 0, demarrer, nullptr, 0, nullptr);
	if (h != nullptr)
		CloseHandle(h);
	return h != nullptr;
}

/* The thread lancer starts. */
static DWORD WINAPI
demarrer(void *)
{
	fil.corps();
	return 0;
}

/*
 * Take the lock the run and the writer share: Windows' slim lock, which
 * stays in the process when no one waits (MinGW-w64's threads would not).
 */
void
verrouiller()
{
	AcquireSRWLockExclusive(&fil.verrou);
}

/* Let it go. */
void
deverrouiller()
{
	ReleaseSRWLockExclusive(&fil.verrou);
}

/* Wait, the lock held, for the other's news. */
void
patienter()
{
	SleepConditionVariableSRW(&fil.reveil, &fil.verrou, INFINITE, 0);
}

/* Tell the other there is news. */
void
eveiller()
{
	WakeAllConditionVariable(&fil.reveil);
}
