"""The tally of a Python integration test: every check passes or is kept as a failure, and the test ends
with a line "N passed, M failed" and a non-zero exit code when anything failed."""


class Results:
    def __init__(self):
        self.passed = 0
        self.failures = []

    def check(self, condition, what):
        if condition:
            self.passed += 1
        else:
            self.failures.append(what)

    def finish(self, shown=40):
        """Prints the first failures and the closing line; returns the exit code."""
        for failure in self.failures[:shown]:
            print("FAIL:", failure)
        print(f"{self.passed} passed, {len(self.failures)} failed")
        return 1 if self.failures else 0
