"""The main window and both editors as a screen reader (Orca) reads them
through AT-SPI: names of every input, the navigation items, and the task
list announcing the row the user moves to."""

import datetime
import unittest

import pyatspi

from quillet_atspi import Rule, ScreenReaderTest, Task, find, states, task_file, walk

TASKS = task_file(
    tasks=[Task("Pay the rent", datetime.datetime(2026, 12, 10, 8, 0, 0), "Me"),
           Task("Dentist", datetime.datetime(2026, 12, 12, 9, 30, 0), "Anna"),
           Task("Call Bob", datetime.datetime(2026, 12, 14, 17, 0, 0), "Eve")],
    rules=[Rule(3, 255, False), Rule(7, 0xFF00FF, False)])

EDIT = pyatspi.ROLE_TEXT
BUTTON = pyatspi.ROLE_PUSH_BUTTON


class MainWindow(ScreenReaderTest):

    def list_of(self, program):
        main = program.window("Quillet")
        self.assertIsNotNone(main, "no main window")
        tasks = find(main, role=pyatspi.ROLE_LIST, name="Tasks")
        self.assertIsNotNone(tasks, "no task list")
        return main, tasks

    def rows(self, tasks):
        return [acc for acc in walk(tasks) if acc.getRole() == pyatspi.ROLE_LIST_ITEM]

    def test_navigation_items_are_buttons_with_the_view_checked(self):
        program = self.start(TASKS)
        main, _ = self.list_of(program)
        items = {name: find(main, role=BUTTON, name=name)
                 for name in ("Immideate Attention", "All Items", "Recycled", "New Task")}
        for name, item in items.items():
            with self.subTest(item=name):
                self.assertIsNotNone(item)
                action = item.queryAction()
                self.assertIn("Press", [action.getName(i) for i in range(action.nActions)])
        checked = [n for n, item in items.items() if pyatspi.STATE_CHECKED in states(item)]
        self.assertEqual(checked, ["All Items"])

        # Pressing "Recycled" through the bus shows that view: it is checked now.
        action = items["Recycled"].queryAction()
        action.doAction([action.getName(i) for i in range(action.nActions)].index("Press"))
        self.assertIsNotNone(self.log.wait_for("object:state-changed:checked",
                                               name="Recycled", detail1=1))
        self.assertIn(pyatspi.STATE_CHECKED, states(items["Recycled"]))
        self.assertNotIn(pyatspi.STATE_CHECKED, states(items["All Items"]))

    def test_down_announces_the_row_and_exposes_it_selected(self):
        # GIVEN the list with the focus and no row selected
        program = self.start(TASKS)
        main, tasks = self.list_of(program)
        program.keys("Tab")  # from the description pane into the list
        self.assertIsNotNone(self.log.wait_for("focus:", name="Tasks"),
                             "the list took no focus: " + repr(self.log.events))
        names = [row.name for row in self.rows(tasks)]
        self.assertEqual(len(names), 3)
        self.assertTrue(names[0].startswith("Pay the rent, for Me, due December 10/26 at 8:00:00"),
                        names[0])

        # WHEN the user presses Down twice
        for step, expected in enumerate(names[:2]):
            self.log.clear()
            program.keys("Down")
            # THEN each press moves the focus to the new row, by its name
            with self.subTest(step=step):
                self.assertIsNotNone(self.log.wait_for("focus:", name=expected),
                                     f"no focus on {expected!r}: {self.log.events!r}")
                self.assertIsNotNone(self.log.wait_for("object:state-changed:selected",
                                                       name=expected, detail1=1))

        # AND the row is exposed as selected and focused, through its states
        # and the list's table interface
        rows = self.rows(tasks)
        self.assertEqual([pyatspi.STATE_SELECTED in states(r) for r in rows],
                         [False, True, False])
        self.assertIn(pyatspi.STATE_FOCUSED, states(rows[1]))
        table = tasks.queryTable()
        self.assertEqual(list(table.getSelectedRows()), [1])
        self.assertTrue(table.isRowSelected(1))
        self.assertEqual(table.getAccessibleAt(1, 0).name, names[1])
        self.assertEqual(table.nRows, 3)

    def test_description_pane_and_status_panels_are_named(self):
        program = self.start(TASKS)
        main, _ = self.list_of(program)
        self.assertIsNotNone(find(main, name="Description"))
        bar = find(main, role=pyatspi.ROLE_STATUS_BAR)
        self.assertIsNotNone(bar)
        panels = [acc.name for acc in walk(bar) if acc.getRole() == pyatspi.ROLE_LABEL]
        self.assertEqual(len(panels), 3, panels)
        self.assertTrue(all(p.strip() for p in panels), panels)
        self.assertTrue(panels[2].startswith("Date: "), panels)


class Editors(ScreenReaderTest):

    def test_task_editor_names_every_input(self):
        program = self.start(TASKS)
        main = program.window("Quillet")
        # "New Task" in the navigation pane opens the editor.
        item = find(main, role=BUTTON, name="New Task")
        action = item.queryAction()
        action.doAction([action.getName(i) for i in range(action.nActions)].index("Press"))
        editor = program.window("New / Edit task")
        self.assertIsNotNone(editor, "the task editor did not open")
        self.assertNamed(editor, {
            EDIT: ["Title", "For", "Due day", "Due year", "Hour", "Minute", "Second",
                   "Description"],
            pyatspi.ROLE_COMBO_BOX: ["Due month"],
        })
        year = find(editor, role=EDIT, name="Due year")
        self.assertEqual(year.description, "(yyyy)")
        # The focus starts on the first input, by its name.
        self.assertIsNotNone(self.log.wait_for("focus:", name="Title"))

    def test_rule_editor_names_every_input_and_puts_new_on_the_interval(self):
        program = self.start(TASKS)
        self.assertIsNotNone(program.window("Quillet"))
        program.choose("o", "Colors And Alerts", "c")
        editor = program.window("Colors & Alerts")
        self.assertIsNotNone(editor, "the rule editor did not open")
        self.assertNamed(editor, {
            EDIT: ["Rule number", "Interval in days"],
            pyatspi.ROLE_CHECK_BOX: ["Popup at Startup?"],
            BUTTON: ["Previous rule", "Next rule", "New", "Select...", "Delete", "Ok",
                     "Cancel"],
        })
        # The swatch says which colour it shows (rule 1: red), by name or hex.
        self.assertIsNotNone(find(editor, name="Colour: red"),
                             "\n".join(acc.name for acc in walk(editor)))
        program.keys("alt+n", window_title="Colors & Alerts")
        self.assertIsNotNone(self.log.wait_for("focus:", name="Interval in days"),
                             "New left the focus elsewhere: " + repr(self.log.events))
        self.assertIsNotNone(find(editor, name="Colour: black"))
        self.assertIsNotNone(find(editor, role=pyatspi.ROLE_PANEL, name="Rule 3"))


if __name__ == "__main__":
    unittest.main(verbosity=2, warnings=False)
