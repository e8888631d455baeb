// The floor korvum is measured against: read the source in large blocks
// and write as many bytes as korvum's document has, with no work per line.
//
//	plancher SOURCE TARGET BYTES
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

int
main(int argc, char *argv[])
{
	if (argc != 4) {
		(void)std::fputs(
		    "usage: plancher SOURCE TARGET BYTES\n", stderr);
		return 2;
	}
	int in = open(argv[1], O_RDONLY);
	int out = open(argv[2], O_WRONLY | O_CREAT | O_TRUNC, 0666);
	if (in < 0 || out < 0) {
		std::perror("plancher");
		return 1;
	}
	unsigned long long reste = std::strtoull(argv[3], nullptr, 10);
	std::vector<char> bloc(size_t{256} * 1024);
	size_t n = 0;
	bool fin = false;
	while (reste > 0) {
		ssize_t r = fin ? 0 : read(in, bloc.data(), bloc.size());
		if (r > 0)
			n = (size_t)r;
		else {
			fin = true; // the source is done: pad with whole blocks
			n = bloc.size();
		}
		size_t m = reste < n ? (size_t)reste : n;
		if (write(out, bloc.data(), m) != (ssize_t)m) {
			std::perror("plancher");
			return 1;
		}
		reste -= m;
	}
	return close(out) == 0 ? 0 : 1;
}
