"""The shared scenarios against the Linux build; test_windows.py runs the same
list against the Windows build under Wine."""
from harness import ToolTest
from scenarios import SCENARIOS, run_posix


class Scenarios(ToolTest):
    def test_every_scenario(self):
        for scenario in SCENARIOS:
            with self.subTest(scenario=scenario.__name__):
                self.tearDown()
                self.setUp()
                run_posix(self, scenario)
