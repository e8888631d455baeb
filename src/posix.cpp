/*
 * The system, on POSIX systems: the standard streams, opening, reading,
 * writing and closing the two files, telling whether two names are one
 * file, putting a whole document in the target's place, and writing a
 * message.  The arguments are taken as they are.
 */

#include "extern.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

/* The signals that end a run, after which no temporary file may stay. */
static const int FINS[] = {SIGHUP, SIGINT, SIGQUIT, SIGTERM};

static pthread_mutex_t verrou = PTHREAD_MUTEX_INITIALIZER; /* the writer's */
static pthread_cond_t reveil = PTHREAD_COND_INITIALIZER;
static void (*corps)();    /* what the writer's thread runs */
static bool sortiefichier; /* the target is a regular file written in place */
static int dossier = -1;   /* the folder of the file that the target names */
static char *cible;        /* that file's name there, while a temporary file */
static bool anonyme;       /* stands for it, with no name yet, */
static char provisoire[sizeof "korvum-XXXXXX.tmp"]; /* or with this one */
static bool existait;      /* that file was there, with this status: */
static struct stat ancien; /* its owner and mode */
static char retenus[8192]; /* warnings not yet written */
static size_t nretenus;

static char *resoudre(const char *);
static int creerprovisoire(char *);
static int nommer(int (*)(const char *));
static int creer(const char *);
static int lier(const char *);
static int forcer(int);
static void oublier();
static void masquer(bool);
static sigset_t *lesfins(sigset_t *);
static void effacer(int);
static void *fil(void *);

/*
 * Make sure the files cannot land on a closed standard stream, where
 * messages would be written into them; let a file size limit fail a
 * write instead of killing the process; and let a pipe that no one reads
 * any more (2>&1 | head) lose a message, or fail a write to the target,
 * instead of ending the conversion.  The arguments are taken as they are.
 */
void
preparer(int *, char ***)
{
	for (int fd = 0; fd <= 2; fd++)
		if (fcntl(fd, F_GETFD) < 0 && errno == EBADF &&
		    open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY) < 0)
			std::exit(1);
	(void)signal(SIGXFSZ, SIG_IGN);
	(void)signal(SIGPIPE, SIG_IGN);
}

/* Open the source; a folder is not a source. */
int
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
bool
memefichier(const char *nom)
{
	struct stat a, b;

	return fstat(entree, &a) == 0 && S_ISREG(a.st_mode) &&
	       stat(nom, &b) == 0 && a.st_dev == b.st_dev &&
	       a.st_ino == b.st_ino;
}

/*
 * Read up to n of the first bytes of the target to p, when it is a
 * regular file that is not empty, so that the caller can tell a document
 * from a list; 0 when there is no such file (none yet, an empty one, a
 * folder, a device, a pipe, which is not opened), -1 when it cannot be
 * read.
 */
long
debutbut(const char *nom, char *p, size_t n)
{
	struct stat st;
	size_t lus = 0;
	ssize_t r;
	int fd;

	if (stat(nom, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size == 0)
		return 0;
	if ((fd = open(nom, O_RDONLY | O_NONBLOCK | O_NOCTTY)) < 0)
		return -1;
	if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
		n = 0;
	while (lus < n && (r = pread(fd, p + lus, n - lus, (off_t)lus)) != 0) {
		if (r < 0 && errno != EINTR) {
			close(fd);
			return -1;
		}
		lus += r < 0 ? 0 : (size_t)r;
	}
	close(fd);
	return (long)lus;
}

/*
 * Open the target.  A regular file with a single name, or a name where
 * there is nothing yet, is written as a temporary file in its folder,
 * which takes its place only once the document is whole (fermerbut), so
 * that a failure leaves it as it was; such a target must still be one
 * that could be opened for writing.  A symbolic link, dangling or not,
 * is followed to the file it names, which is the one replaced or made.
 * Any other target (a device, a pipe, a file with several names, which a
 * new file would part) is written in place, created or emptied, and so
 * is a target whose folder will not take a temporary file.
 */
int
ouvrirbut(const char *nom)
{
	struct stat st;
	char *c = resoudre(nom);
	int fd = -1;

	existait = c != nullptr && stat(c, &ancien) == 0;
	if (c != nullptr && !existait && errno == ENOENT)
		fd = creerprovisoire(c);
	else if (existait && S_ISREG(ancien.st_mode) && ancien.st_nlink == 1) {
		if ((fd = open(c, O_WRONLY | O_NONBLOCK | O_NOCTTY)) < 0) {
			std::free(c);
			return -1;
		}
		(void)close(fd);
		fd = creerprovisoire(c);
	} else
		std::free(c);
	if (fd >= 0)
		return fd;
	fd = open(nom, O_WRONLY | O_CREAT | O_TRUNC, 0666);
	if (fd >= 0)
		sortiefichier = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
	return fd;
}

/*
 * The name of the file that nom leads to through symbolic links,
 * allocated: each link's text, read from the link's own folder when it
 * is relative, until a name that is no link, or where nothing is yet (a
 * dangling link's end).  nullptr past 32 links, a loop, or when a link
 * cannot be read.
 */
static char *
resoudre(const char *nom)
{
	char lu[4096], *c = strdup(nom), *n, *barre;
	struct stat st;
	ssize_t r;
	size_t d;

	for (int k = 0;
	     c != nullptr && lstat(c, &st) == 0 && S_ISLNK(st.st_mode); k++) {
		r = k < 32 ? readlink(c, lu, sizeof lu) : -1;
		barre = std::strrchr(c, '/');
		d = r <= 0 || lu[0] == '/' || barre == nullptr
		        ? 0
		        : (size_t)(barre - c) + 1;
		n = r > 0 && (size_t)r < sizeof lu
		        ? (char *)std::malloc(d + (size_t)r + 1)
		        : nullptr;
		if (n != nullptr) {
			std::memcpy(n, c, d);
			std::memcpy(n + d, lu, (size_t)r);
			n[d + (size_t)r] = '\0';
		}
		std::free(c);
		c = n;
	}
	return c;
}

/*
 * Make the temporary file that stands for the file c (allocated, taken)
 * until the document is whole, in c's folder, which is held open for the
 * run so that the file, its renaming and its removal stay there if the
 * folder moves.  Where the system has them, an unnamed file (O_TMPFILE),
 * which a killed run cannot leave behind; otherwise korvum-XXXXXX.tmp,
 * created exclusively (never through a name or a link already there).
 * Readable by its owner only.  Its descriptor, or -1 when the folder will
 * not take it.  From then on, a signal that ends the run removes it
 * first.
 */
static int
creerprovisoire(char *c)
{
	const char *barre = std::strrchr(c, '/');
	size_t d = barre == nullptr ? 0 : (size_t)(barre - c) + 1;
	char *nomdossier = d == 0 ? strdup(".") : strndup(c, d);
	int fd = -1;

	if (nomdossier != nullptr && c[d] != '\0')
		dossier = open(nomdossier, O_RDONLY | O_DIRECTORY);
	std::free(nomdossier);
	std::memmove(c, c + d, std::strlen(c + d) + 1);
	masquer(true);
#ifdef O_TMPFILE
	if (dossier >= 0)
		anonyme = (fd = openat(
		               dossier, ".", O_TMPFILE | O_WRONLY, 0600)) >= 0;
#endif
	if (dossier >= 0 && fd < 0)
		fd = nommer(creer);
	if (fd >= 0) {
		cible = c;
		for (int sig : FINS) {
			struct sigaction sa = {}, avant;
			sa.sa_handler = effacer;
			sa.sa_flags = (int)SA_RESETHAND;
			sigemptyset(&sa.sa_mask);
			if (sigaction(sig, nullptr, &avant) == 0 &&
			    avant.sa_handler != SIG_IGN)
				(void)sigaction(sig, &sa, nullptr);
		}
	} else
		std::free(c);
	masquer(false);
	return fd;
}

/*
 * Give the temporary file a name korvum-XXXXXX.tmp in the target's
 * folder, by faire, which fails with EEXIST where a file has the name:
 * a name drawn again, up to 100 times.  What faire returns (-1 when it
 * fails); the name in provisoire when it does not.  Called while the
 * signals that end a run are held back.
 */
static int
nommer(int (*faire)(const char *))
{
	static const char CHIFFRES[] = "0123456789abcdefghijklmnopqrstuvwxyz";
	struct timespec ts = {};
	unsigned long v;
	int r = -1;

	for (unsigned long essai = 0; essai < 100; essai++) {
		(void)clock_gettime(CLOCK_REALTIME, &ts);
		v = (unsigned long)getpid() * 2654435761ul ^
		    ((unsigned long)ts.tv_nsec + essai * 7919ul);
		std::memcpy(provisoire, "korvum-XXXXXX.tmp", sizeof provisoire);
		for (size_t k = 0; k < 6; k++, v /= 36)
			provisoire[7 + k] = CHIFFRES[v % 36];
		if ((r = faire(provisoire)) >= 0 || errno != EEXIST)
			break;
	}
	if (r < 0)
		provisoire[0] = '\0';
	return r;
}

/* Create the named temporary file t in the target's folder. */
static int
creer(const char *t)
{
	return openat(dossier, t, O_WRONLY | O_CREAT | O_EXCL, 0600);
}

/*
 * Give the unnamed temporary file the name t in the target's folder:
 * through /proc/self/fd, or where there is no /proc by its descriptor
 * alone, which the system allows only a privileged user.
 */
static int
lier(const char *t)
{
#ifdef O_TMPFILE
	char lien[32];

	(void)std::snprintf(lien, sizeof lien, "/proc/self/fd/%d", sortie);
	if (linkat(AT_FDCWD, lien, dossier, t, AT_SYMLINK_FOLLOW) == 0)
		return 0;
	if (errno != ENOENT)
		return -1;
	return linkat(sortie, "", dossier, t, AT_EMPTY_PATH);
#else
	(void)t;
	return -1;
#endif
}

/*
 * Force a file's data, and the size that reading them needs, to the
 * disk, so that a crash of the system after the renaming that follows
 * finds them there: fdatasync where the system has it, which leaves out
 * the times.  0, or -1 when the disk fails.
 */
static int
forcer(int fd)
{
	int r;

	do
#if defined(_POSIX_SYNCHRONIZED_IO) && _POSIX_SYNCHRONIZED_IO > 0
		r = fdatasync(fd);
#else
		r = fsync(fd);
#endif
	while (r != 0 && errno == EINTR);
	return r;
}

/*
 * The temporary file is gone, in the target's place or removed: forget
 * it (while the signals that end a run are held back).
 */
static void
oublier()
{
	std::free(cible);
	cible = nullptr;
	provisoire[0] = '\0';
}

/*
 * Hold back the signals that end a run (tenir), or let them through
 * again, while the temporary file comes and goes: the handler then sees
 * it either whole or not at all.
 */
static void
masquer(bool tenir)
{
	static sigset_t avant;
	sigset_t fins;

	if (!tenir) {
		(void)pthread_sigmask(SIG_SETMASK, &avant, nullptr);
		return;
	}
	(void)pthread_sigmask(SIG_BLOCK, lesfins(&fins), &avant);
}

/*
 * Hold back the signals that end a run in the calling thread, for good:
 * the writer's, so that they come to the run's own thread, which holds
 * them back while the temporary file comes and goes (see masquer).
 */
void
tenirfins()
{
	sigset_t fins;

	(void)pthread_sigmask(SIG_BLOCK, lesfins(&fins), nullptr);
}

/*
 * Start a thread that runs f and is never waited for; false when the
 * system gives none.
 */
bool
lancer(void (*f)())
{
	pthread_t t;

	corps = f;
	if (pthread_create(&t, nullptr, fil, nullptr) != 0)
		return false;
	(void)pthread_detach(t);
	return true;
}

/* The thread lancer starts. */
static void *
fil(void *)
{
	corps();
	return nullptr;
}

/*
 * The lock the run and the writer share, and the wait for the other's
 * news, made with that lock held, and the news.
 */
void
verrouiller()
{
	pthread_mutex_lock(&verrou);
}

void
deverrouiller()
{
	pthread_mutex_unlock(&verrou);
}

void
patienter()
{
	pthread_cond_wait(&reveil, &verrou);
}

void
eveiller()
{
	pthread_cond_broadcast(&reveil);
}

/* The signals that end a run, in *s. */
static sigset_t *
lesfins(sigset_t *s)
{
	sigemptyset(s);
	for (int sig : FINS)
		sigaddset(s, sig);
	return s;
}

/*
 * A signal ends the run: remove the temporary file, then end as the
 * signal would have (its handler is the default again).
 */
static void
effacer(int sig)
{
	if (provisoire[0] != '\0')
		(void)unlinkat(dossier, provisoire, 0);
	(void)raise(sig);
}

/*
 * Read up to n bytes of the source, their number in *lus (0 at its end);
 * false when the read fails.
 */
bool
lire(char *p, size_t n, size_t *lus)
{
	ssize_t r;

	while ((r = read(entree, p, n)) < 0 && errno == EINTR)
		;
	*lus = r < 0 ? 0 : (size_t)r;
	return r >= 0;
}

/* Write all n bytes to the target; false when it will not take them. */
bool
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
bool
fermer(int fd)
{
	return close(fd) == 0;
}

/*
 * Close the target.  A temporary file first takes the owner (where the
 * user may give it) and the mode of the file it replaces, or for a new
 * target the mode that creating it would give; it is forced to the disk,
 * given a name if it has none, closed, and takes the target's place; the
 * folder is then forced too, so that after a crash of the system the
 * target holds either document whole.  A folder that the file system
 * cannot force (EINVAL) is taken as it is.  False when any of it fails:
 * a temporary file is then still there, for renoncer, unless it is the
 * folder's that failed, when the document is in place already.
 */
bool
fermerbut()
{
	mode_t masque;
	bool ok;

	if (cible == nullptr)
		return fermer(sortie);
	if (existait) {
		(void)!fchown(sortie, ancien.st_uid, ancien.st_gid);
		(void)!fchmod(sortie, ancien.st_mode & 07777);
	} else {
		masque = umask(0);
		(void)umask(masque);
		(void)!fchmod(sortie, 0666 & ~masque);
	}
	ok = forcer(sortie) == 0;
	masquer(true);
	ok = ok && (!anonyme || nommer(lier) == 0);
	masquer(false);
	if (!fermer(sortie) || !ok)
		return false;
	masquer(true);
	if ((ok = renameat(dossier, provisoire, dossier, cible) == 0))
		oublier();
	masquer(false);
	return ok && (fsync(dossier) == 0 || errno == EINVAL);
}

/*
 * Give up the document: remove the temporary file (an unnamed one goes
 * with its descriptor), so that the target keeps what it held; empty a
 * regular target written in place, so that no half document passes for
 * a whole one; leave a device alone.
 */
void
renoncer()
{
	if (cible != nullptr) {
		masquer(true);
		if (provisoire[0] != '\0')
			(void)unlinkat(dossier, provisoire, 0);
		oublier();
		masquer(false);
	} else if (sortie >= 0 && sortiefichier)
		(void)!ftruncate(sortie, 0);
}

/*
 * Write one message in a single write, after the warnings held; nothing
 * can be done if it fails.
 */
void
message(const char *m, size_t n)
{
	lacher();
	(void)!write(canal, m, n);
}

/*
 * A warning: written at once to a terminal, where someone watches;
 * otherwise held with others and written whole messages at a time, so
 * that a list with a warning a line costs no system call a line.
 */
void
retenir(const char *m, size_t n)
{
	static int terminal = -1;

	if (terminal < 0)
		terminal = isatty(canal);
	if (terminal == 1 || n > sizeof retenus) {
		message(m, n);
		return;
	}
	if (n > sizeof retenus - nretenus)
		lacher();
	std::memcpy(retenus + nretenus, m, n);
	nretenus += n;
}

/* Write the warnings held. */
void
lacher()
{
	if (nretenus > 0)
		(void)!write(canal, retenus, nretenus);
	nretenus = 0;
}
