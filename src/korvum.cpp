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
#ifdef KORVUM_SSSE3
#include <tmmintrin.h>
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
static int octetsep;  /* the byte that stands for separ, or -1 */

static void avertir();
static const char *attention(const char *, const char *);
#ifdef KORVUM_SSSE3
static const char *attentionssse3(const char *, const char *);
#endif
static const char *debutchaine(const char *, const char *);
static const char *rtrim(const char *, const char *);
static const char *cherchesepar(const char *, const char *, size_t *);
static std::uint64_t finsdeligne(const char *);
static void traiter(const char *, const char *, bool, bool);
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
 * Close whichever file is open.  Returns false when the target's close
 * failed, which means its last bytes may not have reached the disk.
 */
bool
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
void
erreur(const char *msg)
{
	message(msg, std::strlen(msg));
	if (sortie >= 0)
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

/*
 * Report something about line l, in one write: "Ligne l : " and the n
 * bytes of texte, then ".\n".
 */
void
avertirligne(std::int64_t l, const char *texte, size_t n)
{
	static const char LIGNE[] = "Ligne ";
	char m[sizeof LIGNE + 24 + 3 + 400 + 2];
	char *p = m + sizeof LIGNE - 1;

	if (n > 400)
		n = 400;
	std::memcpy(m, LIGNE, sizeof LIGNE - 1);
	p = std::to_chars(p, m + sizeof m, l).ptr;
	std::memcpy(p, " : ", 3);
	std::memcpy(p + 3, texte, n);
	p += 3 + n;
	*p++ = '.';
	*p++ = '\n';
	message(m, (size_t)(p - m));
}

/*
 * The bytes that the document cannot take as they are, or that a reader
 * must look at: the controls XML forbids (the zero byte, which ends a
 * line's text, among them), '&', '<', ']', and the five bytes that
 * windows-1252 leaves unassigned (0x81, the escape of a decoded source,
 * among them).  A line that holds none is written as it stands.
 */
static constexpr struct Signes {
	bool t[256];
} SIGNE = [] {
	Signes s{};
	for (int b = 0; b < 0x20; b++)
		s.t[b] = b != '\t' && b != '\n' && b != '\r';
	s.t['&'] = s.t['<'] = s.t[']'] = true;
	s.t[0x81] = s.t[0x8d] = s.t[0x8f] = s.t[0x90] = s.t[0x9d] = true;
	return s;
}();

/*
 * The first byte of [p, fin) that needs attention (SIGNE), or fin: 64
 * bytes a step, which may look at up to 63 bytes past fin.
 */
static const char *
attention(const char *p, const char *fin)
{
#ifdef KORVUM_SSSE3
	if (jeu == SSSE3)
		return attentionssse3(p, fin);
#endif
#ifdef KORVUM_SSE2
	const __m128i c1f = _mm_set1_epi8(0x1f);
	for (; p < fin; p += 64) {
		std::uint64_t m = 0;
		for (int i = 0; i < 64; i += 16) {
			__m128i v = _mm_loadu_si128(
			    (const __m128i *)(const void *)(p + i));
			auto egal = [v](int c) {
				return _mm_cmpeq_epi8(
				    v, _mm_set1_epi8((char)c));
			};
			__m128i ctl = _mm_andnot_si128(
			    _mm_or_si128(_mm_or_si128(egal('\t'), egal('\n')),
			        egal('\r')),
			    _mm_cmpeq_epi8(_mm_min_epu8(v, c1f), v));
			__m128i a = _mm_or_si128(_mm_or_si128(ctl, egal('&')),
			    _mm_or_si128(egal('<'), egal(']')));
			__m128i h = _mm_or_si128(
			    _mm_or_si128(egal(0x81), egal(0x8d)),
			    _mm_or_si128(_mm_or_si128(egal(0x8f), egal(0x90)),
			        egal(0x9d)));
			m |= (std::uint64_t)(unsigned)_mm_movemask_epi8(
			         _mm_or_si128(a, h))
			     << i;
		}
		if (m != 0) {
			p += std::countr_zero(m);
			return p < fin ? p : fin;
		}
	}
	return fin;
#else
	while (p < fin && !SIGNE.t[(unsigned char)*p])
		p++;
	return p;
#endif
}

#ifdef KORVUM_SSSE3
/*
 * attention, with SSSE3: each byte's class is looked up by its low and
 * by its high half, a bit a class, and the byte needs attention when the
 * two share a bit: 0x00 to 0x1F but TAB, LF and CR; '&'; '<'; ']'; 0x81,
 * 0x8D, 0x8F; 0x90, 0x9D.  The 64 bytes of a step are tested at once.
 */
__attribute__((target("ssse3"))) static const char *
attentionssse3(const char *p, const char *fin)
{
	const __m128i bas = _mm_setr_epi8(0x43, 0x23, 0x03, 0x03, 0x03, 0x03,
	    0x07, 0x03, 0x03, 0x02, 0x02, 0x03, 0x0b, 0x72, 0x03, 0x23);
	const __m128i haut = _mm_setr_epi8(0x01, 0x02, 0x04, 0x08, 0, 0x10, 0,
	    0, 0x20, 0x40, 0, 0, 0, 0, 0, 0);
	const __m128i f = _mm_set1_epi8(0x0f), zero = _mm_setzero_si128();
	for (; p < fin; p += 64) {
		__m128i c[4];
		for (int i = 0; i < 4; i++) {
			__m128i v = _mm_loadu_si128(
			    (const __m128i *)(const void *)(p + 16 * i));
			c[i] = _mm_and_si128(
			    _mm_shuffle_epi8(bas, _mm_and_si128(v, f)),
			    _mm_shuffle_epi8(
			        haut, _mm_and_si128(_mm_srli_epi16(v, 4), f)));
		}
		__m128i tout = _mm_or_si128(
		    _mm_or_si128(c[0], c[1]), _mm_or_si128(c[2], c[3]));
		if (_mm_movemask_epi8(_mm_cmpeq_epi8(tout, zero)) == 0xffff)
			continue;
		std::uint64_t m = 0;
		for (int i = 0; i < 4; i++)
			m |= (std::uint64_t)(
			         0xffff ^ (unsigned)_mm_movemask_epi8(
			                      _mm_cmpeq_epi8(c[i], zero)))
			     << 16 * i;
		p += std::countr_zero(m);
		return p < fin ? p : fin;
	}
	return fin;
}
#endif

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
	int b = octetsep;

	*n = 1;
	if (separ == 0) {
		*n = 0;
		return fin;
	}
	if (echappes == 0 || separ < 0x80 || !decodee())
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
 * byte or at the end of the source), propre that it holds no byte that
 * needs attention.
 */
static void
traiter(const char *s, const char *fin, bool lf, bool propre)
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
	enregistrement(
	    s, (size_t)(p - s), p + n, (size_t)(fin - p) - n, propre);
}

/*
 * Read the source in blocks and hand each line to traiter.  The unhandled
 * bytes are tampon[debut, fin).  Line ends are found 64 bytes at a time:
 * lfs holds one bit for each LF of tampon[base, base + 64) not yet
 * handled.  The next byte that needs attention, a zero byte or one the
 * document cannot take as it is, stands at signe (fin when there is
 * none): a line before it is written as it stands.
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
	size_t debut = 0, fin = 0, base = 0, signe = 0, haut = NULLE;
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
			bool propre = signe >= t;
			char *z = propre ? nullptr
			                 : (char *)std::memchr(
			                       tampon + signe, 0, t - signe);
			traiter(tampon + debut, z != nullptr ? z : tampon + t,
			    lf && z == nullptr, propre);
			debut = lf ? e + 1 : fin;
			if (signe < debut)
				signe = (size_t)(attention(tampon + debut,
				                     tampon + fin) -
				                 tampon);
			continue;
		}
		if (epuise)
			break;

		if (debut > 0) {
			std::memmove(tampon, tampon + debut, fin - debut);
			fin -= debut;
			signe -= debut;
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
		std::memset(tampon + fin + n, 0, MARGE);
		if (signe == fin)
			signe =
			    (size_t)(attention(tampon + fin, tampon + fin + n) -
			             tampon);
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
				signe = signe < fin ? signe : fin;
				base = 0; /* debut is 0 here */
				epuise = false;
			}
		}
		std::memset(tampon + fin, 0, MARGE);
		lfs = finsdeligne(tampon + base);
		octetsep = decodee() ? octetinterne(separ) : octet1252(separ);
	}
	std::free(tampon);
	tampon = nullptr;
}
