/*
 * The run: the state it starts from, the single fatal path, and the line
 * loop, which reads the source in blocks, cuts it into lines by the rules
 * of a Windows text stream, and makes of each line a record, a markup
 * line, a warning or nothing.
 */

#include "extern.h"

#include <bit>
#include <charconv>
#include <cstdlib>
#include <cstring>

#ifdef KORVUM_SSE2
#include <emmintrin.h>
#endif

int entree = -1;       /* the source */
int sortie = -1;       /* the target document */
int canal = 2;         /* where messages go: standard error */
char32_t separ = ' ';  /* separator character; 0 for none */
std::int64_t ligne;    /* physical line number */
unsigned char typedoc; /* TYPE of the root element */
Jeu jeu = BASE;        /* the vector steps the decoders take */

static char *tampon;  /* read buffer; grows with the longest line */
static size_t taille; /* its size */

static void avertir();
static const char *debutchaine(const char *, const char *);
static const char *rtrim(const char *, const char *);
static const char *cherchesepar(const char *, const char *, size_t *);
static std::uint64_t finsdeligne(const char *);
static void traiter(const char *, const char *, bool);
static void convertir();

/*
 * Write the whole document to sortie: the declaration, the root start
 * tag, a piece for each line of entree, and the closing tag.  Everything
 * a run changes starts afresh here, so that the fuzzer may run it again
 * and again; what the command line gives (the files, separ, typedoc, jeu)
 * is set before.
 */
void
rediger()
{
	ligne = 0;
	ouvrirtexte();
	ouvrirdocument();
	convertir();
	fermerdocument();
}

/*
 * Close whichever file is open; the target, once closed, takes its place.
 * Returns false when the target's close or its placing failed, which
 * means that the document may not be whole where the target is.
 */
bool
fermetout()
{
	bool ok = true;

	if (entree >= 0)
		fermer(entree);
	if (sortie >= 0)
		ok = fermerbut();
	entree = sortie = -1;
	return ok;
}

/*
 * The single fatal path: say why, leave no half-written document behind
 * (the target keeps what it held, or, written in place, is emptied), close
 * both files and end with status 1.
 */
void
erreur(const char *msg)
{
	message(msg, std::strlen(msg));
	renoncer();
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
const char *
cherche(const char *p, const char *fin, int c)
{
#ifdef KORVUM_SSE2
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
 * The first separator in the line [s, fin), or nullptr, with its length
 * in *n.  The zero separator (an empty third argument) stands at the end
 * of the line.  A separator windows-1252 has is its byte, found by a byte
 * scan while no escape is held; one it lacks can then not be there.  Once
 * escapes are held, a separator above 127 is looked for character by
 * character, so that no byte of an escape is taken for it.
 */
static const char *
cherchesepar(const char *s, const char *fin, size_t *n)
{
	bool decode = decodee();
	int b = decode ? octetinterne(separ) : octet1252(separ);

	*n = 1;
	if (separ == 0) {
		*n = 0;
		return fin;
	}
	if (!decode || echappes == 0 || separ < 0x80)
		return b < 0 ? nullptr : cherche(s, fin, b);
	for (const char *p = s; p < fin; p++) {
		if ((unsigned char)*p != ECH) {
			if ((unsigned char)*p == b)
				return p;
			continue;
		}
		if (caractereech(p) == separ) {
			*n = LECH;
			return p;
		}
		p += LECH - 1;
	}
	return nullptr;
}

/*
 * One bit for each LF among the 64 bytes at p, the first byte's bit the
 * lowest: the line ends of a stretch of the source found in one go.
 */
static inline std::uint64_t
finsdeligne(const char *p)
{
	std::uint64_t m = 0;
#ifdef KORVUM_SSE2
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
		balise(s, (size_t)(fin - s), lf);
		return;
	}
	fin = rtrim(s, fin);
	size_t n;
	const char *p = cherchesepar(s, fin, &n);
	if (p == nullptr) {
		avertir();
		return;
	}
	enregistrement(s, (size_t)(p - s), p + n, (size_t)(fin - p) - n);
}

/*
 * Read the source in blocks and hand each line to traiter.  The unhandled
 * bytes are tampon[debut, fin).  Line ends are found 64 bytes at a time:
 * lfs holds one bit for each LF of tampon[base, base + 64) not yet
 * handled.  The next zero byte stands at nul (fin when there is none).
 * A line that does not fit is moved to the front of the buffer, which
 * doubles when the line fills it.
 *
 * Until the encoding of a source without byte-order mark is known, only
 * the lines before its first byte above 127, at haut, are handled: they
 * are ASCII, the same in either encoding.  Once FENETRE bytes past haut
 * and the three that may end a sequence there were read, however the
 * reads were cut, or the text ended, the encoding is known; a UTF-8
 * source's bytes from haut on are then taken back to be decoded.
 */
static void
convertir()
{
	size_t debut = 0, fin = 0, base = 0, nul = 0, haut = NULLE;
	std::uint64_t lfs = 0;
	bool epuise = false, connu = false;

	taille = 2 * BLOC;
	if ((tampon = (char *)std::malloc(taille + MARGE)) == nullptr)
		erreur(LIRE);
	for (;;) {
		while (lfs == 0 && base + 64 < fin) {
			base += 64;
			lfs = finsdeligne(tampon + base);
		}
		bool lf = lfs != 0;
		size_t e = lf ? base + (size_t)std::countr_zero(lfs) : fin;
		if ((lf || (epuise && debut < fin)) && (connu || e < haut)) {
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
			if (haut != NULLE)
				haut -= debut;
			base = base > debut ? base - debut : 0;
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
		size_t n = remplir(tampon + fin, taille - fin);
		if (n == 0)
			epuise = true;
		char *cz = (char *)std::memchr(tampon + fin, 0x1a, n);
		if (cz != nullptr) {
			n = (size_t)(cz - (tampon + fin));
			epuise = true;
			tarir();
		}
		if (nul == fin) {
			char *z = (char *)std::memchr(tampon + fin, 0, n);
			nul = z != nullptr ? (size_t)(z - tampon) : fin + n;
		}
		connu = codageconnu();
		if (!connu && haut == NULLE &&
		    (haut = premierhaut(tampon + fin, n)) != NULLE)
			haut += fin;
		fin += n;
		if (!connu &&
		    (epuise || (haut != NULLE && fin - haut >= FENETRE + 3))) {
			connu = true;
			if (choisircodage(
			        haut == NULLE ? nullptr : tampon + haut,
			        tampon + fin)) {
				fin = haut;
				nul = nul < fin ? nul : fin;
				base = 0; /* debut is 0 here */
				epuise = false;
			}
		}
		std::memset(tampon + fin, 0, MARGE);
		lfs = finsdeligne(tampon + base);
	}
	std::free(tampon);
	tampon = nullptr;
}
