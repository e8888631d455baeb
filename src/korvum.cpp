/*
 * The run: the state it starts from, the single fatal path, and the line
 * loop, which reads the source in blocks, cuts it into lines by the rules
 * of a Windows text stream, and makes of each line a record, a markup
 * line, a warning or nothing.
 */

#include "extern.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cstdlib>
#include <cstring>

#ifdef KORVUM_SSE2
#include <emmintrin.h>
#endif
#ifdef KORVUM_SSSE3
#include <immintrin.h>
#endif

int entree = -1;       /* the source */
int sortie = -1;       /* the target document */
int canal = 2;         /* where messages go: standard error */
char32_t separ = ' ';  /* separator character; 0 for none */
std::int64_t ligne;    /* physical line number */
unsigned char typedoc; /* TYPE of the root element */
Jeu jeu = BASE;        /* the vector steps the decoders take */

static char *tampon;    /* read buffer; grows with the longest line */
static size_t taille;   /* its size */
static int octetsep[2]; /* the byte that stands for separ, or -1: in a
                           line as it is, and in one held decoded */
static char octetvu;    /* the byte the sweep finds as a separator */

static void avertir();
/* What a sweep of 64 bytes finds (see balayer), a bit a byte. */
struct Masques {
	std::uint64_t fins, sigs, hauts, seps;
};

enum { LOT = 256 };     /* blocks of 64 bytes swept in one go */
enum { REPRISE = 512 }; /* bytes left to the loop after clairs took none */

/*
 * What a sweep of up to LOT blocks finds, and a clear block past them:
 * each kind of bit in an array of its own, so that the bits of any 64
 * bytes are read in one go (see vue).
 */
struct Lot {
	std::uint64_t fins[LOT + 1], sigs[LOT + 1], hauts[LOT + 1],
	    seps[LOT + 1];
};

static size_t balayer(const char *, const char *, bool, Lot *);
static Masques balayerbase(const char *, bool);
static void ranger(Lot *, size_t, Masques);
static Masques bloc(const Lot *, size_t);
#ifdef KORVUM_SSSE3
static Masques blocssse3(const char *, bool, __m128i, __m128i);
static void balayerssse3(const char *, bool, Lot *, size_t);
static std::uint64_t signesssse3(const char *);
static void moitiesavx2(const char *, bool, Lot *, size_t);
static void balayeravx2(const char *, bool, Lot *, size_t);
static std::uint64_t signesavx2(const char *);
static __m256i egaux(const char *, __m256i);
static const char *cherchebloc2(const char *, const char *, int);
#endif
static size_t rang(std::uint64_t);
static size_t position(size_t, std::uint64_t);
static std::uint64_t entre(size_t, size_t, size_t);
static const char *debutchaine(const char *, const char *);
static const char *rtrim(const char *, const char *);
static const char *cherchesepar(
    const char *, const char *, size_t *, const char *);
static char *zero(size_t, size_t, size_t, std::uint64_t, bool);
static bool ascii7(size_t, std::uint64_t);
static void traiter(
    const char *, const char *, bool, const char *, const char *);
static const char *sansmarque(const char *, const char *);
static const char *premiersigne(const char *, const char *);
static bool signesclairs(const char *, std::uint64_t);
static std::uint64_t apartir(const std::uint64_t *, size_t);
static Masques depuis(Masques, size_t);
static std::uint64_t vue(const std::uint64_t *, size_t);
static bool longue(const char *, const Lot *, size_t, size_t, bool, bool *,
    size_t *, size_t *, size_t *, size_t *);
static bool lue(const char *, const char *, bool);
static size_t lignesclaires(size_t, size_t, const Lot *, size_t, bool, bool *);
static size_t clairs(size_t, size_t, const Lot *, size_t, bool *);
static size_t clairsignes(size_t, size_t, const Lot *, size_t);
#ifdef KORVUM_SSSE3
static size_t clairsavx2(size_t, size_t, const Lot *, size_t, bool *);
static size_t clairsignesavx2(size_t, size_t, const Lot *, size_t);
#endif
static size_t prendreclaires(size_t, size_t, const Lot *, size_t);
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
	fermertexte();
	fermerdocument();
	lacher();
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
 * (the target keeps what it held, or, written in place, is emptied), once
 * the writer is done with it, close both files and end with status 1.
 */
void
erreur(const char *msg)
{
	message(msg, std::strlen(msg));
	(void)ecrits();
	renoncer();
	fermetout();
	std::exit(1);
}

/*
 * The buffer *b, of *place bytes, made to hold n bytes and MARGE more;
 * what it held is not kept.  Running out of memory ends the run.
 */
char *
reserver(char **b, size_t *place, size_t n)
{
	if (*place < n + MARGE) {
		std::free(*b);
		if ((*b = (char *)std::malloc(n + MARGE)) == nullptr)
			erreur(LIRE);
		*place = n + MARGE;
	}
	return *b;
}

/* Report the current line as lacking the separator, as one message. */
static void
avertir()
{
	char m[sizeof PASDESEPAR + 24 + sizeof FINMESSAGE];
	char *p = m + sizeof PASDESEPAR - 1;

	std::memcpy(m, PASDESEPAR, sizeof PASDESEPAR - 1);
	p = std::to_chars(p, m + sizeof m - sizeof FINMESSAGE, ligne).ptr;
	std::memcpy(p, FINMESSAGE, sizeof FINMESSAGE - 1);
	p += sizeof FINMESSAGE - 1;
	retenir(m, (size_t)(p - m));
}

/*
 * Report something about line l, as one message: "Ligne l : " and the n
 * bytes of texte, then ".\n".
 */
void
avertirligne(std::int64_t l, const char *texte, size_t n)
{
	char m[sizeof MESSAGELIGNE + 24 + sizeof JOINT + 400 +
	       sizeof FINMESSAGE];
	char *p = m + sizeof MESSAGELIGNE - 1;

	if (n > 400)
		n = 400;
	std::memcpy(m, MESSAGELIGNE, sizeof MESSAGELIGNE - 1);
	p = std::to_chars(p, m + sizeof m, l).ptr;
	std::memcpy(p, JOINT, sizeof JOINT - 1);
	std::memcpy(p + sizeof JOINT - 1, texte, n);
	p += sizeof JOINT - 1 + n;
	std::memcpy(p, FINMESSAGE, sizeof FINMESSAGE - 1);
	p += sizeof FINMESSAGE - 1;
	retenir(m, (size_t)(p - m));
}

/*
 * Sweep the bytes from p, 64 at a time, into lot, one bit a byte, the
 * first byte's the lowest: the line ends (LF, and CR too when cr), the
 * bytes that need attention (SIGNE, in defs.h), the bytes above 127, and
 * the bytes octetvu, the separator's when it is ASCII.  Sweeps the blocks
 * that begin before fin, LOT at most and one at least, returns how many,
 * n, and leaves the n-th clear; the last may look at up to 63 bytes past
 * fin.  A few blocks in a go keep the sweep's constants in registers.
 * With the vector steps of jeu; signes takes the second only, for a
 * field.
 */
static size_t
balayer(const char *p, const char *fin, bool cr, Lot *lot)
{
	size_t n = fin > p ? ((size_t)(fin - p) + 63) / 64 : 1;

	if (n > LOT)
		n = LOT;
	ranger(lot, n, Masques{0, 0, 0, 0});
#ifdef KORVUM_SSSE3
	if (jeu == AVX2) {
		balayeravx2(p, cr, lot, n);
		return n;
	}
	if (jeu == SSSE3) {
		balayerssse3(p, cr, lot, n);
		return n;
	}
#endif
	for (size_t i = 0; i < n; i++)
		ranger(lot, i, balayerbase(p + 64 * i, cr));
	return n;
}

/* Put m in lot as its k-th block. */
static inline void
ranger(Lot *lot, size_t k, Masques m)
{
	lot->fins[k] = m.fins;
	lot->sigs[k] = m.sigs;
	lot->hauts[k] = m.hauts;
	lot->seps[k] = m.seps;
}

/* The k-th block of lot. */
static inline Masques
bloc(const Lot *lot, size_t k)
{
	return {lot->fins[k], lot->sigs[k], lot->hauts[k], lot->seps[k]};
}

/* The bytes that need attention among the 64 at p, as balayer finds them. */
std::uint64_t
signes(const char *p)
{
#ifdef KORVUM_SSSE3
	if (jeu == AVX2)
		return signesavx2(p);
	if (jeu == SSSE3)
		return signesssse3(p);
#endif
	return balayerbase(p, false).sigs;
}

/* A block of balayer's sweep with SSE2, or byte by byte. */
static inline Masques
balayerbase(const char *p, bool cr)
{
	Masques m = {0, 0, 0, 0};
#ifdef KORVUM_SSE2
	const __m128i c1f = _mm_set1_epi8(0x1f);
	const __m128i sep = _mm_set1_epi8(octetvu);
	for (int i = 0; i < 64; i += 16) {
		__m128i v =
		    _mm_loadu_si128((const __m128i *)(const void *)(p + i));
		auto egal = [v](int c) {
			return _mm_cmpeq_epi8(v, _mm_set1_epi8((char)c));
		};
		__m128i lf = egal('\n'), r = egal('\r');
		__m128i ctl = _mm_andnot_si128(
		    _mm_or_si128(_mm_or_si128(egal('\t'), lf), r),
		    _mm_cmpeq_epi8(_mm_min_epu8(v, c1f), v));
		__m128i a = _mm_or_si128(_mm_or_si128(ctl, egal('&')),
		    _mm_or_si128(egal('<'), egal(']')));
		__m128i h = _mm_or_si128(_mm_or_si128(egal(0x81), egal(0x8d)),
		    _mm_or_si128(
		        _mm_or_si128(egal(0x8f), egal(0x90)), egal(0x9d)));
		if (cr)
			lf = _mm_or_si128(lf, r);
		m.fins |= (std::uint64_t)(unsigned)_mm_movemask_epi8(lf) << i;
		m.sigs |= (std::uint64_t)(unsigned)_mm_movemask_epi8(
		              _mm_or_si128(a, h))
		          << i;
		m.hauts |= (std::uint64_t)(unsigned)_mm_movemask_epi8(v) << i;
		m.seps |= (std::uint64_t)(unsigned)_mm_movemask_epi8(
		              _mm_cmpeq_epi8(v, sep))
		          << i;
	}
#else
	for (int i = 0; i < 64; i++) {
		auto b = (unsigned char)p[i];
		m.fins |= (std::uint64_t)(b == '\n' || (cr && b == '\r')) << i;
		m.sigs |= (std::uint64_t)SIGNE.t[b] << i;
		m.hauts |= (std::uint64_t)(b >= 0x80) << i;
		m.seps |= (std::uint64_t)(p[i] == octetvu) << i;
	}
#endif
	return m;
}

#ifdef KORVUM_SSSE3
/*
 * The classes of a byte that needs attention, looked up by its low and by
 * its high half, a bit a class: the byte needs attention when the two
 * share a bit.  0x00 to 0x1F but TAB, LF and CR; '&'; '<'; ']'; 0x81,
 * 0x8D, 0x8F; 0x90, 0x9D.  No class uses the high bit, so a byte's
 * classes saturated with 0x7F have it set when it needs attention.
 */
static constexpr struct ClassesSignes {
	alignas(32) unsigned char bas[32]; /* the table twice, for AVX2 */
	alignas(32) unsigned char haut[32];
} CLASSES = [] {
	constexpr unsigned char bas[16] = {0x43, 0x23, 0x03, 0x03, 0x03, 0x03,
	    0x07, 0x03, 0x03, 0x02, 0x02, 0x03, 0x0b, 0x72, 0x03, 0x23};
	constexpr unsigned char haut[16] = {0x01, 0x02, 0x04, 0x08, 0, 0x10, 0,
	    0, 0x20, 0x40, 0, 0, 0, 0, 0, 0};
	ClassesSignes c{};
	for (int i = 0; i < 32; i++) {
		c.bas[i] = bas[i % 16];
		c.haut[i] = haut[i % 16];
	}
	return c;
}();

/*
 * A block of balayer's sweep with SSSE3, the classes of CLASSES in bas
 * and haut: the bytes that need attention by their classes.
 */
__attribute__((target("ssse3"))) static inline Masques
blocssse3(const char *p, bool cr, __m128i bas, __m128i haut)
{
	const __m128i f = _mm_set1_epi8(0x0f), lf = _mm_set1_epi8('\n');
	const __m128i r = _mm_set1_epi8(cr ? '\r' : '\n');
	const __m128i x7f = _mm_set1_epi8(0x7f);
	const __m128i sep = _mm_set1_epi8(octetvu);
	Masques m = {0, 0, 0, 0};

	for (int i = 0; i < 64; i += 16) {
		__m128i v =
		    _mm_loadu_si128((const __m128i *)(const void *)(p + i));
		__m128i c =
		    _mm_and_si128(_mm_shuffle_epi8(bas, _mm_and_si128(v, f)),
		        _mm_shuffle_epi8(
		            haut, _mm_and_si128(_mm_srli_epi16(v, 4), f)));
		m.fins |=
		    (std::uint64_t)(unsigned)_mm_movemask_epi8(_mm_or_si128(
		        _mm_cmpeq_epi8(v, lf), _mm_cmpeq_epi8(v, r)))
		    << i;
		m.sigs |= (std::uint64_t)(unsigned)_mm_movemask_epi8(
		              _mm_adds_epu8(c, x7f))
		          << i;
		m.hauts |= (std::uint64_t)(unsigned)_mm_movemask_epi8(v) << i;
		m.seps |= (std::uint64_t)(unsigned)_mm_movemask_epi8(
		              _mm_cmpeq_epi8(v, sep))
		          << i;
	}
	return m;
}

/* The bytes that need attention among the 64 at p, with SSSE3. */
__attribute__((target("ssse3"))) static std::uint64_t
signesssse3(const char *p)
{
	return blocssse3(p, false,
	    _mm_load_si128((const __m128i *)(const void *)CLASSES.bas),
	    _mm_load_si128((const __m128i *)(const void *)CLASSES.haut))
	    .sigs;
}

/* balayer's sweep of the n blocks at p, with SSSE3. */
__attribute__((target("ssse3"))) static void
balayerssse3(const char *p, bool cr, Lot *lot, size_t n)
{
	const __m128i bas =
	    _mm_load_si128((const __m128i *)(const void *)CLASSES.bas);
	const __m128i haut =
	    _mm_load_si128((const __m128i *)(const void *)CLASSES.haut);

	for (size_t j = 0; j < n; j++, p += 64)
		ranger(lot, j, blocssse3(p, cr, bas, haut));
}

/*
 * The bytes among the 32 of v that need attention, a bit a byte: by
 * their classes, with AVX2.
 */
__attribute__((target("avx2"))) static inline unsigned
classesavx2(__m256i v)
{
	const __m256i bas =
	    _mm256_load_si256((const __m256i *)(const void *)CLASSES.bas);
	const __m256i haut =
	    _mm256_load_si256((const __m256i *)(const void *)CLASSES.haut);
	const __m256i f = _mm256_set1_epi8(0x0f);
	__m256i c =
	    _mm256_and_si256(_mm256_shuffle_epi8(bas, _mm256_and_si256(v, f)),
	        _mm256_shuffle_epi8(
	            haut, _mm256_and_si256(_mm256_srli_epi16(v, 4), f)));
	return (unsigned)_mm256_movemask_epi8(
	    _mm256_adds_epu8(c, _mm256_set1_epi8(0x7f)));
}

/*
 * balayerssse3, with AVX2: the same classes, 32 bytes a step, each
 * step's bits put as they come as the low or the high half of its
 * block's words (x86 is little-endian).  CRs are looked for only when
 * they end lines (cr).
 */
__attribute__((target("avx2"), always_inline)) static inline void
moitiesavx2(const char *p, bool cr, Lot *lot, size_t n)
{
	const __m256i lf = _mm256_set1_epi8('\n');
	const __m256i r = _mm256_set1_epi8('\r');
	const __m256i sep = _mm256_set1_epi8(octetvu);
	auto mettre = [](std::uint64_t *a, size_t i, unsigned m) {
		std::memcpy((char *)a + 4 * i, &m, 4);
	};

	for (size_t i = 0; i < 2 * n; p += 64) {
		for (size_t h = 0; h < 2; h++, i++) {
			__m256i v = _mm256_loadu_si256(
			    (const __m256i *)(const void *)(p + 32 * h));
			__m256i f = _mm256_cmpeq_epi8(v, lf);
			if (cr)
				f = _mm256_or_si256(f, _mm256_cmpeq_epi8(v, r));
			mettre(lot->fins, i, (unsigned)_mm256_movemask_epi8(f));
			mettre(lot->sigs, i, classesavx2(v));
			mettre(
			    lot->hauts, i, (unsigned)_mm256_movemask_epi8(v));
			mettre(lot->seps, i,
			    (unsigned)_mm256_movemask_epi8(
			        _mm256_cmpeq_epi8(v, sep)));
		}
	}
}

/* balayer's sweep of the n blocks at p, with AVX2. */
__attribute__((target("avx2"))) static void
balayeravx2(const char *p, bool cr, Lot *lot, size_t n)
{
	if (cr)
		moitiesavx2(p, true, lot, n);
	else
		moitiesavx2(p, false, lot, n);
}

/* The bytes c among the 32 at p, with AVX2. */
__attribute__((target("avx2"))) static inline __m256i
egaux(const char *p, __m256i c)
{
	return _mm256_cmpeq_epi8(
	    _mm256_loadu_si256((const __m256i *)(const void *)p), c);
}

/*
 * cherchebloc with AVX2: 256 bytes in eight steps while more than 192
 * are left (which looks at no more than 63 bytes past fin), the rest by
 * cherche, once a block.
 */
__attribute__((target("avx2"))) static const char *
cherchebloc2(const char *p, const char *fin, int c)
{
	const __m256i v = _mm256_set1_epi8((char)c);

	for (; fin - p > 192; p += 256) {
		__m256i e = egaux(p, v);
		for (int i = 32; i < 256; i += 32)
			e = _mm256_or_si256(e, egaux(p + i, v));
		if (!_mm256_testz_si256(e, e))
			break;
	}
	return cherche(p, fin, c);
}

/* The bytes that need attention among the 64 at p, with AVX2. */
__attribute__((target("avx2"))) static std::uint64_t
signesavx2(const char *p)
{
	return classesavx2(
	           _mm256_loadu_si256((const __m256i *)(const void *)p)) |
	       (std::uint64_t)classesavx2(
	           _mm256_loadu_si256((const __m256i *)(const void *)(p + 32)))
	           << 32;
}
#endif

/* Where the lowest bit set in x, which is not 0, stands. */
static inline size_t
rang(std::uint64_t x)
{
	return (unsigned)__builtin_ctzll(x);
}

/*
 * Where the first byte that bits marks in the 64-byte block at base
 * stands, or NULLE when it marks none: without a branch, as whether a
 * block holds one follows no pattern.
 */
static inline size_t
position(size_t base, std::uint64_t bits)
{
	return (base + rang(bits | 1ull << 63)) | (0 - (size_t)(bits == 0));
}

/*
 * The bits of a 64-byte block at base for the bytes of [a, b), a and b
 * within or around it.
 */
static inline std::uint64_t
entre(size_t base, size_t a, size_t b)
{
	size_t lo = a > base ? a - base : 0, hi = b - base;

	if (lo >= 64 || hi <= lo)
		return 0;
	return (hi >= 64 ? ~0ull : (1ull << hi) - 1) & (~0ull << lo);
}

/* Whether c is a blank: a space, a TAB or an LF. */
static inline bool
blanc(char c)
{
	auto u = (unsigned char)c;

	return u <= ' ' &&
	       (1ull << u & (1ull << ' ' | 1u << '\t' | 1u << '\n'));
}

/* Where the text of [s, fin) begins: past its spaces, TABs and LFs. */
static const char *
debutchaine(const char *s, const char *fin)
{
	while (s < fin && blanc(*s))
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
	while (fin > s && blanc(fin[-1]))
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
 * The first byte c in [p, fin), or nullptr, for a whole block read: 64
 * bytes a step, that may look at up to 63 bytes past fin.  The C
 * runtime's memchr is not used on the way of every byte: some go one byte
 * at a time.
 */
const char *
cherchebloc(const char *p, const char *fin, int c)
{
#ifdef KORVUM_SSSE3
	if (jeu == AVX2)
		return cherchebloc2(p, fin, c);
#endif
#ifdef KORVUM_SSE2
	const __m128i v = _mm_set1_epi8((char)c);
	for (; p < fin; p += 64) {
		auto egal = [p, v](int i) {
			return _mm_cmpeq_epi8(
			    _mm_loadu_si128(
			        (const __m128i *)(const void *)(p + i)),
			    v);
		};
		__m128i e = _mm_or_si128(_mm_or_si128(egal(0), egal(16)),
		    _mm_or_si128(egal(32), egal(48)));
		if (_mm_movemask_epi8(e) != 0)
			return cherche(p, fin, c);
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
 * character, so that no byte of an escape is taken for it.  vu, unless
 * nullptr, is where the sweep found the line's first separator, which may
 * stand before s when it is a blank, or past fin when it found none.
 */
static const char *
cherchesepar(const char *s, const char *fin, size_t *n, const char *vu)
{
	*n = 1;
	if (vu != nullptr && vu >= s)
		return vu < fin ? vu : nullptr;

	bool decode = decodee();
	int b = octetsep[decode];

	if (separ == 0) {
		*n = 0;
		return fin;
	}
	if (!decode || separ < 0x80 || echappes == 0)
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
 * The first zero byte of the line tampon[debut, t), which ends its text,
 * or nullptr.  When the block at base holds the whole line (entier),
 * siens has the bits of the line's bytes that need attention there, and
 * a zero byte is one of them.
 */
static char *
zero(size_t debut, size_t t, size_t base, std::uint64_t siens, bool entier)
{
	if (!entier)
		return (char *)cherche(tampon + debut, tampon + t, 0);
	for (; siens != 0; siens &= siens - 1) {
		char *c = tampon + base + std::countr_zero(siens);
		if (*c == '\0')
			return c;
	}
	return nullptr;
}

/*
 * Whether one of the bytes that siens marks in the block at base is
 * ASCII.
 */
static bool
ascii7(size_t base, std::uint64_t siens)
{
	for (; siens != 0; siens &= siens - 1) {
		auto i = (size_t)std::countr_zero(siens);
		if ((unsigned char)tampon[base + i] < 0x80)
			return true;
	}
	return false;
}

/*
 * Handle one line of the source: its text is [s, fin), without its line
 * end; lf tells whether the text ended at a line end (and not at a zero
 * byte or at the end of the source); signe is its first byte that needs
 * attention, or where it may stand (fin when there is none); sep is
 * where the sweep found its first separator (see cherchesepar).
 */
static void
traiter(
    const char *s, const char *fin, bool lf, const char *signe, const char *sep)
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
	const char *p = cherchesepar(s, fin, &n, sep);
	if (p == nullptr) {
		avertir();
		return;
	}
	enregistrement(
	    s, (size_t)(p - s), p + n, (size_t)(fin - p) - n, signe, 0);
}

/*
 * Where the text of the line [s, fin) begins once a byte-order mark that
 * starts it is dropped: joined files leave one at the start of a line,
 * and it is no text.  It is EF BB BF in a line read as it is, and the
 * escape of U+FEFF in one held decoded.
 */
static const char *
sansmarque(const char *s, const char *fin)
{
	const auto *u = (const unsigned char *)s;

	if (u[0] != 0xef && u[0] != ECH) /* how each mark begins */
		return s;
	if (huitbits() && !tenue(s))
		return marqueutf8(s, (size_t)(fin - s)) ? s + 3 : s;
	return u[0] == ECH && fin - s >= (long)LECH && caractereech(s) == 0xfeff
	           ? s + LECH
	           : s;
}

/*
 * The first byte of [s, fin) that needs attention, or fin; 64 bytes a
 * step, which may look at up to 63 bytes past fin.
 */
static const char *
premiersigne(const char *s, const char *fin)
{
	for (const char *p = s; p < fin; p += 64) {
		std::uint64_t m = signes(p);
		if (m != 0)
			return p + std::countr_zero(m) < fin
			           ? p + std::countr_zero(m)
			           : fin;
	}
	return fin;
}

/*
 * Whether every byte that bits marks in the 64 at b is '&', '<' or ']':
 * signs that a field's record writes as a reader reads them, with
 * nothing to report.
 */
static inline bool
signesclairs(const char *b, std::uint64_t bits)
{
	static constexpr struct Clairs {
		bool t[256];
	} CLAIRS = [] {
		Clairs c{};
		c.t[(int)'&'] = c.t[(int)'<'] = c.t[(int)']'] = true;
		return c;
	}();

	for (; bits != 0; bits &= bits - 1)
		if (!CLAIRS.t[(unsigned char)b[std::countr_zero(bits)]])
			return false;
	return true;
}

/*
 * The 64 bits of one of the arrays of a Lot, b, for the bytes from the
 * o-th on; b[o / 64 + 1] is read.
 */
static inline std::uint64_t
apartir(const std::uint64_t *b, size_t o)
{
	b += o / 64;
	return b[0] >> o % 64 | b[1] << 1 << (63 - o % 64);
}

/* The bits of m for the bytes from the o-th on (none when o is 64 or more). */
static inline Masques
depuis(Masques m, size_t o)
{
	std::uint64_t pris = o < 64 ? ~0ull << o : 0;

	return {m.fins & pris, m.sigs & pris, m.hauts & pris, m.seps & pris};
}

/*
 * The bits of one of the arrays of a Lot, b, for the bytes from the o-th
 * on: 57 of them at least, in one read, and clear past them.  b holds a
 * word past the o-th byte's.
 */
static inline std::uint64_t
vue(const std::uint64_t *b, size_t o)
{
	if constexpr (std::endian::native == std::endian::little) {
		std::uint64_t w;
		__builtin_memcpy(&w, (const char *)b + o / 8, 8);
		return w >> (o % 8);
	}
	return apartir(b, o);
}

/*
 * telle, for a line at s whose first byte above 127 is at h: at once,
 * as windows-1252, when seul (the source is read by its bytes, see
 * parleursoctets, and the byte after h is below 128, so h begins no
 * UTF-8 sequence).
 */
static inline bool
lue(const char *s, const char *h, bool seul)
{
	if (seul) {
		dit1252();
		return true;
	}
	return telle(s, h);
}

/*
 * For a line of lignesclaires that begins at p, from t, and does not end
 * within the bits that vue reads: its end in *e, and its first sign,
 * byte above 127 and separator in *g, *h and *q (*e when it has none),
 * block by block.  Returns false when it does not end within the n
 * blocks of lot, or when it holds a sign that is not '&', '<' or ']', or,
 * without avecsignes, any sign (*signe tells which, as for
 * lignesclaires).
 */
static bool
longue(const char *t, const Lot *lot, size_t n, size_t p, bool avecsignes,
    bool *signe, size_t *e, size_t *g, size_t *h, size_t *q)
{
	size_t k = p / 64;
	size_t hs = NULLE, qs = NULLE, ss = NULLE;
	Masques m = depuis(bloc(lot, k), p % 64);

	for (; m.fins == 0; m = bloc(lot, ++k)) {
		if (k + 1 >= n)
			return false;
		if (m.sigs != 0) {
			*signe = signesclairs(t + 64 * k, m.sigs);
			if (!avecsignes || !*signe)
				return false;
			ss = std::min(ss, position(64 * k, m.sigs));
		}
		hs = std::min(hs, position(64 * k, m.hauts));
		qs = std::min(qs, position(64 * k, m.seps));
	}
	std::uint64_t ici = m.fins & (0 - m.fins), avant = ici - 1;
	if ((m.sigs & avant) != 0) {
		*signe = signesclairs(t + 64 * k, m.sigs & avant);
		if (!avecsignes || !*signe)
			return false;
	}
	size_t b = 64 * k;
	*e = b + rang(m.fins);
	*g = std::min(ss, b + rang((m.sigs & avant) | ici));
	*h = std::min(hs, b + rang((m.hauts & avant) | ici));
	*q = std::min(qs, b + rang((m.seps & avant) | ici));
	return true;
}

/*
 * Handle the plain lines that come one after the other from tampon[debut]
 * straight from the masks of the n blocks of lot, the first at base and
 * debut within them: lines ended by an LF that hold no byte that needs
 * attention, or, avecsignes, none but '&', '<' and ']' (see
 * signesclairs), begin with no '<', and read as they stand (see telle).
 * Such a line is blank, or gives its record, written straight into the
 * document's buffer, or its warning.  Most lines of a list are such
 * lines; they take none of the bookkeeping of the line loop, and those
 * that end within 57 bytes are read from the masks in one go (see vue).
 * With a blank separator, a line with blanks to cut is left to the loop.
 * Returns where the first line left to the loop begins, or the first
 * that does not end within the blocks; *signe tells, without avecsignes,
 * that it is left for its signs alone.  The separator is ASCII, and the
 * reader free (see lecteurlibre).
 */
__attribute__((always_inline)) static inline size_t
lignesclaires(size_t debut, size_t base, const Lot *lot, size_t n,
    bool avecsignes, bool *signe)
{
	const char *t = tampon + base;
	size_t p = debut - base; /* the line's start, from t */
	const bool sepblanc = separ == ' ' || separ == '\t';
	/* the lines are told by their bytes (see lue) */
	const bool octets = parleursoctets(t, t + 64 * n);
	char *limite, *d = place(&limite);
	/* Below it, a record of up to 64 bytes of fields fits: a line that
	 * vue reads is shorter, and a longer one is held to its room. */
	const std::uintptr_t borne =
	    (std::uintptr_t)limite - (TAILLEFICHE + 64);

	for (;; p++) {
		size_t e, g, h, q;
		std::uint64_t fins = vue(lot->fins, p), vus = 0;
		if (fins != 0) {
			/* the line and its LF, which is no sign */
			std::uint64_t sigs =
			    vue(lot->sigs, p) & (fins ^ (fins - 1));
			e = p + rang(fins);
			g = e;
			if (sigs != 0) {
				*signe = signesclairs(t + p, sigs);
				if (!avecsignes || !*signe)
					break;
				g = p + rang(sigs);
				vus = sigs >> (g - p);
			}
			/* the first at or past the end is the end */
			h = p + rang(vue(lot->hauts, p) | fins);
			q = p + rang(vue(lot->seps, p) | fins);
		} else if (!longue(t, lot, n, p, avecsignes, signe, &e, &g, &h,
		               &q) ||
		           TAILLEFICHE + (e - p) > (size_t)(limite - d))
			break;
		else if (g < e && e - g < 64)
			vus = apartir(lot->sigs, g);
		const bool signee = avecsignes && g < e;
		const char *s = t + p, *f = t + e;
		/* A byte up to ' ' at either end is a CR or a blank (the
		 * line's bytes below ' ' but TAB and CR are signs), or, at
		 * its start, the LF of an empty line.  A CR LF line end with
		 * no blank before it is cut at once. */
		bool net = (unsigned char)*s > ' ';
		if (net && (unsigned char)f[-1] <= ' ') {
			/* s holds no CR: f - 2 is s or past it */
			net = f[-1] == '\r' && (unsigned char)f[-2] > ' ';
			f -= net;
		}
		if (!net) {
			while (f > s && f[-1] == '\r')
				f--;
			if (f == s || blanc(*s) || blanc(f[-1])) {
				/* A blank line, or blanks to cut: the
				 * separator the sweep found is the line's
				 * unless blank. */
				if (sepblanc)
					break;
				s = debutchaine(s, f);
				f = s < f ? rtrim(s, f) : s;
			}
			if (s == f) { /* blank */
				ligne++;
				p = e;
				continue;
			}
		}
		if ((signee && *s == '<') ||
		    (h < e &&
		        !lue(s, t + h, octets && (signed char)t[h + 1] >= 0))) {
			break; /* markup, or an encoding to tell */
		} else if (t + q < f) {
			const char *r = t + q + 1; /* R, after the separator */
			size_t nq = (size_t)(r - 1 - s), nr = (size_t)(f - r);
			if (signee) {
				if (pireplace(nq + nr) > (size_t)(limite - d))
					break;
				ligne++;
				/* with its signs from g on, when all are
				 * within 64 bytes (see enregistrement) */
				d = fichesignes(d, s, nq, r, nr, t + g, vus);
				if (!lecteurlibre()) {
					p = e + 1;
					break;
				}
			} else if ((std::uintptr_t)d > borne &&
			           TAILLEFICHE + nq + nr > (size_t)(limite - d))
				break;
			else {
				d = fichesuite(d, s, nq, r, nr);
				ligne++;
			}
		} else {
			ligne++;
			avertir();
		}
		p = e;
	}
	rendre(d);
	return base + p;
}

/*
 * lignesclaires without signs, in the line loop, and with them, apart
 * from it: the second holds the code that writes signs, which would slow
 * the first down where it is inlined (flatten inlines what each calls).
 */
__attribute__((flatten)) static size_t
clairs(size_t debut, size_t base, const Lot *lot, size_t n, bool *signe)
{
	*signe = false;
	return lignesclaires(debut, base, lot, n, false, signe);
}

__attribute__((noinline, flatten)) static size_t
clairsignes(size_t debut, size_t base, const Lot *lot, size_t n)
{
	bool signe;

	return lignesclaires(debut, base, lot, n, true, &signe);
}

#ifdef KORVUM_SSSE3
/*
 * clairs and clairsignes, with the instructions that come with AVX2: the
 * masks read with BMI's bit instructions, which take a tenth fewer.
 */
__attribute__((target("avx2,bmi,bmi2"), flatten)) static size_t
clairsavx2(size_t debut, size_t base, const Lot *lot, size_t n, bool *signe)
{
	*signe = false;
	return lignesclaires(debut, base, lot, n, false, signe);
}

__attribute__((target("avx2,bmi,bmi2"), noinline, flatten)) static size_t
clairsignesavx2(size_t debut, size_t base, const Lot *lot, size_t n)
{
	bool signe;

	return lignesclaires(debut, base, lot, n, true, &signe);
}
#endif

/*
 * Take the plain lines from debut (see lignesclaires), by clairs, and
 * when it leaves a line for its signs alone, on by clairsignes; with the
 * instructions of AVX2 when the processor has them.  Returns where the
 * first line left to the line loop begins.
 */
static size_t
prendreclaires(size_t debut, size_t base, const Lot *lot, size_t n)
{
	bool signe;
	size_t d;

#ifdef KORVUM_SSSE3
	if (jeu == AVX2) {
		d = clairsavx2(debut, base, lot, n, &signe);
		return signe ? clairsignesavx2(d, base, lot, n) : d;
	}
#endif
	d = clairs(debut, base, lot, n, &signe);
	return signe ? clairsignes(d, base, lot, n) : d;
}

/*
 * Read the source in blocks and hand each line to traiter.  The unhandled
 * bytes are tampon[debut, fin).  Lines are found 64 bytes at a time (see
 * balayer): m holds, for tampon[base, base + 64), one bit for each line
 * end not yet handled, for each byte that needs attention (a zero byte,
 * or one the document cannot take as it is), for each byte above 127, and
 * for each separator, that no handled line holds; it comes from lot,
 * swept a few blocks ahead.  sale tells that the line begun at debut
 * holds one of the second before base; premier and sepavant are where it
 * holds its first of the third and fourth there, or NULLE.  A line with no
 * byte that needs attention is written as it stands; a line with no byte
 * above 127 is ASCII; a line whose separator the sweep found needs no
 * search of its own.  A line that does not fit is moved to the front of
 * the buffer, which doubles when the line fills it.
 *
 * The lines end at LF (a run of CRs before it is part of the line end),
 * unless the start of the text holds CRs and not a single LF: then at CR
 * and LF alike, CR LF being one.  Until the start decides, no line is
 * handled.  In a source read as it is, the lines from its first byte
 * above 127, at haut, wait until the encoding of a line that does not
 * tell is known (deciderdebut).
 */
static void
convertir()
{
	size_t debut = 0, fin = 0, base = 0, haut = NULLE;
	size_t premier = NULLE;  /* the line's first byte above 127 before
	                            base */
	size_t sepavant = NULLE; /* the line's first separator before base */
	Masques m = {0, 0, 0, 0};
	Lot lot;
	size_t k = 0, nlot = 0; /* m is lot[k] as swept, of nlot */
	char fl = '\0';         /* '\n' or '\r' once the line ends are known */
	bool epuise = false, connu = true, sale = false;
	bool clair = false; /* plain lines may go by clairs */
	size_t reprise = 0; /* where clairs is tried again after a try that
	                       took no line */
	bool saut =
	    false; /* an LF at debut ends the line before, with its CR */

	octetsep[0] = octet1252(separ);
	octetsep[1] = octetinterne(separ);
	/* The sweep finds an ASCII separator but LF, which is never in a
	 * line; LF stands for none. */
	const bool sepbalaye = separ != 0 && separ < 0x80 && separ != '\n';
	octetvu = sepbalaye ? (char)separ : '\n';
	taille = 3 * BLOC; /* a block, and its UTF-8 decoded (see
	                      decoderlignes), beside a line begun */
	if ((tampon = (char *)std::malloc(taille + MARGE)) == nullptr)
		erreur(LIRE);
	for (;;) {
		/* The plain lines that come next, unless the last try
		 * took none. */
		if (clair && debut >= reprise && debut - base < 64 &&
		    (connu || haut == NULLE) && lecteurlibre()) {
			size_t b0 = base - 64 * k,
			       d = prendreclaires(debut, b0, &lot, nlot);
			if (d == debut)
				reprise = debut + REPRISE;
			else {
				debut = d;
				k = std::min((d - b0) / 64, nlot - 1);
				base = b0 + 64 * k;
				m = depuis(bloc(&lot, k), d - base);
			}
		}
		while (m.fins == 0 && base + 64 < fin) {
			sale = sale || m.sigs != 0;
			premier = std::min(premier, position(base, m.hauts));
			sepavant = std::min(sepavant, position(base, m.seps));
			base += 64;
			if (++k == nlot) {
				nlot = balayer(tampon + base, tampon + fin,
				    fl == '\r', &lot);
				k = 0;
			}
			m = bloc(&lot, k);
		}
		bool bout = m.fins != 0;
		size_t e = bout ? base + (size_t)std::countr_zero(m.fins) : fin;
		std::uint64_t avantici = (m.fins & (0 - m.fins)) - 1;
		std::uint64_t ici = avantici + 1; /* e's bit, or 0 */
		const char *s, *f, *h, *signe, *sep = nullptr;
		bool ascii, lf, revoir = false;

		if (bout && fl == '\n' && (connu || e < haut) && !sale &&
		    (m.sigs & avantici) == 0) {
			/* Most lines: ended by an LF, and holding nothing
			 * that needs attention (nor, before the encoding is
			 * known, a byte above 127).  Their first byte above
			 * 127 and first separator, or their end when they
			 * hold none, are found without a branch, as lines
			 * with and without them come in no order. */
			std::uint64_t hauts = m.hauts & avantici;
			ascii = (premier == NULLE) & (hauts == 0);
			s = tampon + debut;
			f = tampon + e;
			h = tampon +
			    std::min(premier, base + rang(hauts | ici));
			while (f > s && f[-1] == '\r')
				f--;
			signe = f;
			lf = true;
			if (sepbalaye)
				sep =
				    tampon +
				    std::min(sepavant,
				        base + rang((m.seps & avantici) | ici));
			m.seps &= ~avantici;
			m.hauts &= ~avantici;
			m.fins &= m.fins - 1;
			premier = sepavant = NULLE;
			debut = e + 1;
		} else if (fl != '\0' && (bout || (epuise && debut < fin)) &&
		           (connu || e < haut)) {
			std::uint64_t siens = m.sigs & avantici;
			bool propre = !sale && siens == 0;
			ascii = premier == NULLE && (m.hauts & avantici) == 0;
			/* the first byte above 127, unless ascii (the bits
			 * of the block past fin are clear) */
			size_t hors = std::min(premier,
			    base + (size_t)std::countr_zero(m.hauts | ici));
			if (!bout) { /* the last line, without its line end */
				propre = !sale && (m.sigs & entre(base, debut,
				                                fin)) == 0;
				ascii =
				    premier == NULLE &&
				    (m.hauts & entre(base, debut, fin)) == 0;
			}
			bool entier = !sale && bout;
			m.sigs &= 0 - (ici << 1);
			m.hauts &= 0 - (ici << 1);
			m.seps &= 0 - (ici << 1);
			m.fins &= m.fins - 1;
			premier = sepavant = NULLE;
			sale = false;
			if (saut && bout && e == debut && tampon[e] == '\n') {
				saut = false; /* the LF of a CR LF */
				debut = e + 1;
				continue;
			}
			saut = bout && tampon[e] == '\r';
			size_t t = e;
			while (fl == '\n' && t > debut && tampon[t - 1] == '\r')
				t--;
			char *z = propre ? nullptr
			                 : zero(debut, t, base, siens, entier);
			s = tampon + debut;
			f = z != nullptr ? z : tampon + t;
			signe = propre ? f
			        : entier
			            ? tampon + base + std::countr_zero(siens)
			            : s;
			h = tampon + hors;
			lf = bout && z == nullptr;
			/* Decoded, what needs attention in a UTF-8 line is an
			 * ASCII byte that did, or an escape. */
			revoir = !propre && (!entier || ascii7(base, siens));
			debut = bout ? e + 1 : fin;
		} else {
			if (epuise)
				break;

			if (debut > 0) {
				std::memmove(
				    tampon, tampon + debut, fin - debut);
				fin -= debut;
				if (haut != NULLE)
					haut -= debut;
				if (premier != NULLE)
					premier -= debut;
				if (sepavant != NULLE)
					sepavant -= debut;
				reprise = reprise > debut ? reprise - debut : 0;
				base = base > debut ? base - debut : 0;
				debut = 0;
			}
			if (taille - fin < BLOC) {
				size_t t = 2 * taille;
				char *n =
				    (char *)std::realloc(tampon, t + MARGE);
				if (n == nullptr)
					erreur(LIRE);
				tampon = n;
				taille = t;
			}
			size_t n = remplir(tampon + fin, taille - fin);
			if (n == 0)
				epuise = true;
			std::memset(tampon + fin + n, 0, MARGE);
			const char *cz =
			    cherchebloc(tampon + fin, tampon + fin + n, 0x1a);
			if (cz != nullptr) {
				n = (size_t)(cz - (tampon + fin));
				epuise = true;
				tarir();
			}
			connu = avantconnu();
			if (connu && fl == '\n')
				n = decoderlignes(&tampon, fin, n, taille);
			if (!connu && haut == NULLE &&
			    (haut = premierhaut(tampon + fin, n)) != NULLE)
				haut += fin;
			fin += n;
			/* The line ends, from the start of the text (debut is
			 * 0). */
			size_t debuttexte = fin < FENETRE ? fin : FENETRE;
			if (fl == '\0' &&
			    cherchebloc(tampon, tampon + debuttexte, '\n') !=
			        nullptr)
				fl = '\n';
			else if (fl == '\0' && (epuise || fin >= FENETRE)) {
				fl = cherchebloc(tampon, tampon + debuttexte,
				         '\r') != nullptr
				         ? '\r'
				         : '\n';
				base = 0; /* sweep again, for CRs */
				sale = false;
				premier = sepavant = NULLE;
			}
			clair = fl == '\n' && sepbalaye;
			if (!connu && haut != NULLE && fl != '\0')
				connu =
				    deciderdebut(tampon + debut, tampon + haut,
				        tampon + fin, epuise, fl == '\r');
			std::memset(tampon + fin, 0, MARGE);
			nlot = balayer(
			    tampon + base, tampon + fin, fl == '\r', &lot);
			k = 0;
			m = bloc(&lot, 0);
			continue;
		}

		s = sansmarque(s, f);
		if ((h < s || h >= f) & !ascii) {
			/* a mark was dropped, or a zero byte ended the text */
			size_t i = premierhaut(s, (size_t)(f - s));
			ascii = i == NULLE;
			h = ascii ? s : s + i;
		}
		size_t avant = echappes;
		const char *d = texteligne(s, h, f, &f, ascii);
		if (d != s) {
			signe = echappes != avant || revoir ? premiersigne(d, f)
			                                    : f;
			sep = nullptr;
		}
		traiter(d, f, lf, signe, sep);
	}
	std::free(tampon);
	tampon = nullptr;
}
