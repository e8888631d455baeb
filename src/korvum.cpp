/*
 * korvum: turn a text file of two-column lines into an XML document of
 * Q/R records.
 *
 *	korvum fichier_source fichier_but [séparateur]
 *
 * A line that holds the separator (a space by default) becomes the record
 * <F><Q>before</Q><R>after</R></F>.  A line whose first non-blank byte is
 * '<' is copied as it is, so that the source can carry markup of its own.
 * Blank lines are skipped, and any other line is reported on standard
 * error with its number.  The root element's TYPE is the last byte of the
 * target's name, upper-cased.
 *
 * The source is read the way a Windows text stream reads it (CR LF is one
 * LF, a lone CR stays, the byte 0x1A ends the source) and every line of
 * the document ends in CR LF, so that the same source and command line
 * give the same bytes on every platform.  The source is read and the
 * document written in large blocks; a line is handled whole, however
 * long, straight from the read buffer.
 */

#include <sys/stat.h>

#include <bit>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__SSE2__) && !defined(KORVUM_SANS_SIMD)
#include <emmintrin.h>
#endif

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#endif

/*
 * Messages go to a console: the Windows build writes them in the OEM code
 * page of a French console, POSIX builds in UTF-8.
 */
#ifdef _WIN32
#define EAIGU "\x82"
#define EGRAVE "\x8a"
#else
#define EAIGU "\xc3\xa9"
#define EGRAVE "\xc3\xa8"
#endif

static const char SYNTAXE[] =
    "Syntaxe : \"korvum <fichier_source> <fichier_but> <s" EAIGU
    "parateur>\"\n";
static const char DEFAUT[] = "Le s" EAIGU "parateur est un caract" EGRAVE
                             "re blanc par d" EAIGU "faut.\n";
static const char OUVRIRENTREE[] =
    "Impossible d'ouvrir le fichier d'entr" EAIGU "e!\n";
static const char OUVRIRSORTIE[] =
    "Impossible d'ouvrir le fichier de sortie!\n";
static const char LIRE[] = "Impossible de lire le fichier d'entr" EAIGU "e!\n";
static const char ECRIRE[] =
    "Impossible d'" EAIGU "crire le fichier de sortie!\n";
static const char MEMEFICHIER[] =
    "Le fichier de sortie est le fichier d'entr" EAIGU "e!\n";
static const char PASDESEPAR[] = "Pas de s" EAIGU "parateur ligne ";

/*
 * Read size, and the size of the document's output buffer (the fuzzer
 * makes them small, to reach their edges often).  Both buffers have MARGE
 * bytes to spare past their end, so that the scans and copies below can
 * work in steps of 16 to 64 bytes and step over the end of what they
 * handle.
 */
#ifndef KORVUM_BLOC
#define KORVUM_BLOC 262144 /* 256 KiB */
#endif
static const size_t BLOC = KORVUM_BLOC;
static const size_t SORTIE = KORVUM_BLOC;
static const size_t MARGE = 64;

static int entree = -1;          /* the source */
static int sortie = -1;          /* the target document */
static bool sortiefichier;       /* target is a regular file */
static int separ = ' ';          /* separator byte, 0 to 255 */
static std::int64_t ligne;       /* physical line number */
static char *tampon;             /* read buffer; grows with the longest line */
static size_t taille;            /* its size */
static unsigned char typedoc;    /* TYPE of the root element */
static char doc[SORTIE + MARGE]; /* document bytes not yet written */
static size_t doclen;
static int canal = 2; /* where messages go: standard error */

static void preparer();
static int ouvrirsource(const char *);
static bool memefichier(const char *);
static int ouvrirbut(const char *);
static size_t lire(char *, size_t);
static bool ecrire(const char *, size_t);
static bool fermer(int);
static void tronquer();
static void message(const char *, size_t);

static bool fermetout();
[[noreturn]] static void erreur(const char *);
static void avertir();
static const char *debutchaine(const char *, const char *);
static const char *rtrim(const char *, const char *);
static const char *cherche(const char *, const char *, int);
static std::uint64_t finsdeligne(const char *);
static void copie(char *, const char *, size_t);
static void emettre(const char *, size_t);
static void vider();
static void enregistrement(const char *, size_t, const char *, size_t);
static void traiter(const char *, const char *, bool);
static void convertir();
static void rediger();

#ifndef KORVUM_SANS_MAIN
int
main(int argc, char *argv[])
{
	preparer();
	if (argc <= 2) {
		message(SYNTAXE, sizeof SYNTAXE - 1);
		message(DEFAUT, sizeof DEFAUT - 1);
		fermetout();
		return 0;
	}

	if ((entree = ouvrirsource(argv[1])) < 0)
		erreur(OUVRIRENTREE);
	if (memefichier(argv[2]))
		erreur(MEMEFICHIER);
	if ((sortie = ouvrirbut(argv[2])) < 0)
		erreur(OUVRIRSORTIE);

	typedoc = (unsigned char)std::toupper(
	    (unsigned char)argv[2][std::strlen(argv[2]) - 1]);
	if (argc >= 4)
		separ = (unsigned char)argv[3][0];

	rediger();
	if (!fermetout())
		erreur(ECRIRE);
	return 0;
}
#endif

/*
 * Write the whole document to sortie: the declaration, the root start
 * tag, a piece for each line of entree, and the closing tag.
 */
static void
rediger()
{
	static const char DECLARATION[] =
	    "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\r\n";
	static const char RACINE[] = "<SOLVARINE TYPE=\"";
	static const char CHAMPS[] = "\" ID_CHAMP1=\"Q\" ID_CHAMP2=\"R\">\r\n";
	static const char FIN[] = "</SOLVARINE>";

	emettre(DECLARATION, sizeof DECLARATION - 1);
	emettre(RACINE, sizeof RACINE - 1);
	emettre((const char *)&typedoc, 1);
	emettre(CHAMPS, sizeof CHAMPS - 1);
	convertir();
	emettre(FIN, sizeof FIN - 1);
	vider();
}

/*
 * Close whichever file is open.  Returns false when the target's close
 * failed, which means its last bytes may not have reached the disk.
 */
static bool
fermetout()
{
	bool ok = true;

	if (entree >= 0)
		fermer(entree);
	if (sortie >= 0)
		ok = fermer(sortie);
	entree = sortie = -1;
	return ok;
}

/*
 * The single fatal path: say why, leave no half-written document behind
 * (a regular target is emptied; a device is left alone), close both files
 * and end with status 1.
 */
static void
erreur(const char *msg)
{
	message(msg, std::strlen(msg));
	if (sortie >= 0 && sortiefichier)
		tronquer();
	fermetout();
	std::exit(1);
}

/* Report the current line as lacking the separator, in one write. */
static void
avertir()
{
	char m[sizeof PASDESEPAR + 24];
	char *p = m + sizeof PASDESEPAR - 1;

	std::memcpy(m, PASDESEPAR, sizeof PASDESEPAR - 1);
	p = std::to_chars(p, m + sizeof m - 2, ligne).ptr;
	*p++ = '.';
	*p++ = '\n';
	message(m, (size_t)(p - m));
}

/* Where the text of [s, fin) begins: past its spaces, TABs and LFs. */
static const char *
debutchaine(const char *s, const char *fin)
{
	while (s < fin && (*s == ' ' || *s == '\t' || *s == '\n'))
		s++;
	return s;
}

/*
 * Where the text of [s, fin) ends once its trailing blanks are cut; the
 * caller makes sure that s holds a byte that is not blank.
 */
static const char *
rtrim(const char *s, const char *fin)
{
	while (
	    fin > s && (fin[-1] == ' ' || fin[-1] == '\t' || fin[-1] == '\n'))
		fin--;
	return fin;
}

/*
 * The first byte c in [p, fin), or nullptr: memchr, inlined for the short
 * spans of a line, 32 bytes a step so that most lines take one.  The last
 * step may look at up to 31 bytes past fin, which the buffer's margin
 * holds.
 */
static inline const char *
cherche(const char *p, const char *fin, int c)
{
#if defined(__SSE2__) && !defined(KORVUM_SANS_SIMD)
	const __m128i v = _mm_set1_epi8((char)c);
	for (; p < fin; p += 32) {
		__m128i a = _mm_loadu_si128((const __m128i *)(const void *)p);
		__m128i b =
		    _mm_loadu_si128((const __m128i *)(const void *)(p + 16));
		unsigned m = (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(a, v)) |
		             (unsigned)_mm_movemask_epi8(_mm_cmpeq_epi8(b, v))
		                 << 16;
		if (m != 0) {
			p += std::countr_zero(m);
			return p < fin ? p : nullptr;
		}
	}
	return nullptr;
#else
	return (const char *)std::memchr(p, c, (size_t)(fin - p));
#endif
}

/*
 * One bit for each LF among the 64 bytes at p, the first byte's bit the
 * lowest: the line ends of a stretch of the source found in one go.
 */
static inline std::uint64_t
finsdeligne(const char *p)
{
	std::uint64_t m = 0;
#if defined(__SSE2__) && !defined(KORVUM_SANS_SIMD)
	const __m128i lf = _mm_set1_epi8('\n');
	for (int i = 0; i < 64; i += 16) {
		__m128i o =
		    _mm_loadu_si128((const __m128i *)(const void *)(p + i));
		m |= (std::uint64_t)(unsigned)_mm_movemask_epi8(
		         _mm_cmpeq_epi8(o, lf))
		     << i;
	}
#else
	for (int i = 0; i < 64; i++)
		m |= (std::uint64_t)(p[i] == '\n') << i;
#endif
	return m;
}

/*
 * Copy n bytes in steps of 32, most fields in one; the last step may copy
 * up to 31 bytes too many, from and into the buffers' margins, where the
 * next piece lands.
 */
static inline void
copie(char *d, const char *s, size_t n)
{
	for (size_t i = 0; i == 0 || i < n; i += 32)
		std::memcpy(d + i, s + i, 32);
}

/*
 * Append n bytes to the document; a piece larger than the buffer goes
 * straight to the target.
 */
static void
emettre(const char *p, size_t n)
{
	if (n > SORTIE - doclen) {
		vider();
		if (n >= SORTIE) {
			if (!ecrire(p, n))
				erreur(ECRIRE);
			return;
		}
	}
	std::memcpy(doc + doclen, p, n);
	doclen += n;
}

/* Write out the document's buffered bytes. */
static void
vider()
{
	if (doclen > 0 && !ecrire(doc, doclen))
		erreur(ECRIRE);
	doclen = 0;
}

/* Append the record <F><Q>q</Q><R>r</R></F> and its line end. */
static void
enregistrement(const char *q, size_t nq, const char *r, size_t nr)
{
	static const char F[] = "<F><Q>", QR[] = "</Q><R>",
	                  FF[] = "</R></F>\r\n";
	size_t n = sizeof F - 1 + nq + sizeof QR - 1 + nr + sizeof FF - 1;

	if (n > SORTIE - doclen) {
		emettre(F, sizeof F - 1);
		emettre(q, nq);
		emettre(QR, sizeof QR - 1);
		emettre(r, nr);
		emettre(FF, sizeof FF - 1);
		return;
	}
	char *p = doc + doclen;
	std::memcpy(p, F, sizeof F - 1);
	p += sizeof F - 1;
	copie(p, q, nq);
	p += nq;
	std::memcpy(p, QR, sizeof QR - 1);
	p += sizeof QR - 1;
	copie(p, r, nr);
	p += nr;
	std::memcpy(p, FF, sizeof FF - 1);
	doclen += n;
}

/*
 * Handle one line of the source: its text is [s, fin), without its line
 * end; lf tells whether the text ended at a line end (and not at a zero
 * byte or at the end of the source).
 */
static void
traiter(const char *s, const char *fin, bool lf)
{
	ligne++;
	s = debutchaine(s, fin);
	if (s == fin)
		return;
	if (*s == '<') {
		emettre(s, (size_t)(fin - s));
		if (lf)
			emettre("\r\n", 2);
		return;
	}
	fin = rtrim(s, fin);
	if (separ == 0) {
		enregistrement(s, (size_t)(fin - s), fin, 0);
		return;
	}
	const char *p = cherche(s, fin, separ);
	if (p == nullptr) {
		avertir();
		return;
	}
	enregistrement(s, (size_t)(p - s), p + 1, (size_t)(fin - p - 1));
}

/*
 * Read the source in blocks and hand each line to traiter.  The unhandled
 * bytes are tampon[debut, fin).  Line ends are found 64 bytes at a time:
 * lfs holds one bit for each LF of tampon[base, base + 64) not yet
 * handled.  The next zero byte stands at nul (fin when there is none).
 * A line that does not fit is moved to the front of the buffer, which
 * doubles when the line fills it.
 */
static void
convertir()
{
	size_t debut = 0, fin = 0, base = 0, nul = 0;
	std::uint64_t lfs = 0;
	bool epuise = false;

	taille = 2 * BLOC;
	if ((tampon = (char *)std::malloc(taille + MARGE)) == nullptr)
		erreur(LIRE);
	for (;;) {
		while (lfs == 0 && base + 64 < fin) {
			base += 64;
			lfs = finsdeligne(tampon + base);
		}
		if (lfs != 0 || (epuise && debut < fin)) {
			bool lf = lfs != 0;
			size_t e =
			    lf ? base + (size_t)std::countr_zero(lfs) : fin;
			size_t t = e;
			lfs &= lfs - 1;
			if (lf && t > debut && tampon[t - 1] == '\r')
				t--;
			if (nul < t)
				traiter(tampon + debut, tampon + nul, false);
			else
				traiter(tampon + debut, tampon + t, lf);
			debut = lf ? e + 1 : fin;
			if (nul < debut) {
				char *z = (char *)std::memchr(
				    tampon + debut, 0, fin - debut);
				nul = z != nullptr ? (size_t)(z - tampon) : fin;
			}
			continue;
		}
		if (epuise)
			break;

		if (debut > 0) {
			std::memmove(tampon, tampon + debut, fin - debut);
			fin -= debut;
			nul -= debut;
			debut = 0;
		}
		if (taille - fin < BLOC) {
			size_t t = 2 * taille;
			char *n = (char *)std::realloc(tampon, t + MARGE);
			if (n == nullptr)
				erreur(LIRE);
			tampon = n;
			taille = t;
		}
		size_t n = lire(tampon + fin, BLOC);
		if (n == 0)
			epuise = true;
		char *cz = (char *)std::memchr(tampon + fin, 0x1a, n);
		if (cz != nullptr) {
			n = (size_t)(cz - (tampon + fin));
			epuise = true;
		}
		if (nul == fin) {
			char *z = (char *)std::memchr(tampon + fin, 0, n);
			nul = z != nullptr ? (size_t)(z - tampon) : fin + n;
		}
		base = fin;
		fin += n;
		std::memset(tampon + fin, 0, MARGE);
		lfs = finsdeligne(tampon + base);
	}
	std::free(tampon);
	tampon = nullptr;
}

/*
 * What differs between Windows and POSIX: opening, reading, writing and
 * closing the two files, telling whether two names are one file, and
 * preparing the standard streams.
 */
#ifdef _WIN32

/* Standard error gets each message's bytes as they are, LF alone. */
static void
preparer()
{
	_setmode(2, _O_BINARY);
}

/* Open the source, in binary mode; a folder is not a source. */
static int
ouvrirsource(const char *nom)
{
	struct _stat64 st;
	int fd = _open(nom, _O_RDONLY | _O_BINARY);

	if (fd >= 0 && (_fstat64(fd, &st) != 0 || (st.st_mode & _S_IFDIR))) {
		_close(fd);
		fd = -1;
	}
	return fd;
}

/*
 * Whether the name designates the open source file itself, by the file's
 * identity: any spelling, case or hard link of it.
 */
static bool
memefichier(const char *nom)
{
	BY_HANDLE_FILE_INFORMATION a, b;
	HANDLE h = (HANDLE)_get_osfhandle(entree);

	if (GetFileType(h) != FILE_TYPE_DISK ||
	    !GetFileInformationByHandle(h, &a))
		return false;
	HANDLE t = CreateFileA(nom, 0,
	    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
	    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
	if (t == INVALID_HANDLE_VALUE)
		return false;
	bool meme = GetFileInformationByHandle(t, &b) &&
	            a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
	            a.nFileIndexHigh == b.nFileIndexHigh &&
	            a.nFileIndexLow == b.nFileIndexLow;
	CloseHandle(t);
	return meme;
}

/* Create or empty the target, in binary mode. */
static int
ouvrirbut(const char *nom)
{
	int fd = _open(nom, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY,
	    _S_IREAD | _S_IWRITE);

	if (fd >= 0)
		sortiefichier =
		    GetFileType((HANDLE)_get_osfhandle(fd)) == FILE_TYPE_DISK;
	return fd;
}

/* Read up to n bytes of the source; 0 at its end. */
static size_t
lire(char *p, size_t n)
{
	int r = _read(entree, p, (unsigned)n);
	if (r < 0)
		erreur(LIRE);
	return (size_t)r;
}

/* Write all n bytes to the target; false when it will not take them. */
static bool
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
static bool
fermer(int fd)
{
	return _close(fd) == 0;
}

/* Empty the target, so that no half document is left behind. */
static void
tronquer()
{
	(void)_chsize(sortie, 0);
}

/* Write one message in a single write; nothing can be done if it fails. */
static void
message(const char *m, size_t n)
{
	(void)_write(canal, m, (unsigned)n);
}

#else /* POSIX */

/*
 * Make sure the files cannot land on a closed standard stream, where
 * messages would be written into them; and let a file size limit fail
 * a write instead of killing the process.
 */
static void
preparer()
{
	for (int fd = 0; fd <= 2; fd++)
		if (fcntl(fd, F_GETFD) < 0 && errno == EBADF &&
		    open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) < 0)
			std::exit(1);
	(void)signal(SIGXFSZ, SIG_IGN);
}

/* Open the source; a folder is not a source. */
static int
ouvrirsource(const char *nom)
{
	struct stat st;
	int fd = open(nom, O_RDONLY);

	if (fd >= 0 && (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode))) {
		close(fd);
		fd = -1;
	}
	return fd;
}

/*
 * Whether the name designates the open source file itself, by device and
 * inode: any spelling, hard link or symbolic link of it.  Only a regular
 * source can be lost that way; a terminal or a device cannot.
 */
static bool
memefichier(const char *nom)
{
	struct stat a, b;

	return fstat(entree, &a) == 0 && S_ISREG(a.st_mode) &&
	       stat(nom, &b) == 0 && a.st_dev == b.st_dev &&
	       a.st_ino == b.st_ino;
}

/* Create or empty the target. */
static int
ouvrirbut(const char *nom)
{
	struct stat st;
	int fd = open(nom, O_WRONLY | O_CREAT | O_TRUNC, 0666);

	if (fd >= 0)
		sortiefichier = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
	return fd;
}

/* Read up to n bytes of the source; 0 at its end. */
static size_t
lire(char *p, size_t n)
{
	ssize_t r;

	while ((r = read(entree, p, n)) < 0 && errno == EINTR)
		;
	if (r < 0)
		erreur(LIRE);
	return (size_t)r;
}

/* Write all n bytes to the target; false when it will not take them. */
static bool
ecrire(const char *p, size_t n)
{
	while (n > 0) {
		ssize_t r = write(sortie, p, n);
		if (r < 0 && errno == EINTR)
			continue;
		if (r <= 0)
			return false;
		p += r;
		n -= (size_t)r;
	}
	return true;
}

/* Close a file; false when the close reports an error. */
static bool
fermer(int fd)
{
	return close(fd) == 0;
}

/* Empty the target, so that no half document is left behind. */
static void
tronquer()
{
	(void)!ftruncate(sortie, 0);
}

/* Write one message in a single write; nothing can be done if it fails. */
static void
message(const char *m, size_t n)
{
	(void)!write(canal, m, n);
}

#endif
