"""``python -m orbalis``: the orbalis command line (see ``orbalis.cli``)."""

import sys

from orbalis.cli import main

if __name__ == "__main__":
    sys.exit(main())
