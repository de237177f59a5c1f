"""The shared scenarios against the Linux build; test_windows.py runs the same
list against the Windows build under Wine."""
from harness import ToolTest
from scenarios import SCENARIOS, run_posix


class Scenarios(ToolTest):
    def test_every_scenario(self):
        for scenario in SCENARIOS:
            for by_arguments in (False, True):
                with self.subTest(scenario=scenario.__name__, by_arguments=by_arguments):
                    self.tearDown()
                    self.setUp()
                    run_posix(self, scenario, by_arguments)
