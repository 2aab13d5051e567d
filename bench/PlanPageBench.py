"""The plan page's first load with 1,000 actions in the week: the time from the navigation's start until the
week grid is drawn with them, from the browser's own timing (the page's "week-drawn" performance mark),
with the browser's cache off. Prints the median of a few loads and each load.

    python3 PlanPageBench.py CALENDAR_SERVER
"""
import datetime
import os
import shutil
import statistics
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', 'tests', 'calendar-server'))
os.environ['CALENDAR_SERVER'] = sys.argv[1]
import plan_page_test as page  # noqa: E402

ACTIONS = 1000
LOADS = 7
GOAL_MS = 300


def main():
    monday = page.TODAY - datetime.timedelta(days=page.TODAY.weekday())
    actions = []
    for i in range(ACTIONS):
        # Spread over the week's days from 06:00 to 23:59, a few at the same minute as a show has.
        minute = 6 * 60 + (i * 37) % (18 * 60)
        when = datetime.datetime.combine(monday + datetime.timedelta(days=i % 7), datetime.time()) + \
            datetime.timedelta(minutes=minute)
        actions.append({'location_id': 1, 'name': 'Cue %d' % i, 'macro': 'Cue %d' % i,
                        'date': when.isoformat(), 'macro_action': 1, 'macro_data': ''})
    data = {'locations': [{'location_id': 1, 'name': 'Main hall', 'comment': ''}], 'variables': [],
            'actions': actions}
    folder = tempfile.mkdtemp(prefix='plan-page-bench-')
    server = page.Server(folder, data=data)
    browser = page.Browser()
    try:
        browser.driver.execute_cdp_cmd('Network.setCacheDisabled', {'cacheDisabled': True})
        figures = []
        items = []  # when the week's items had arrived
        for _ in range(LOADS):
            # A fresh document each time: the same address again would only move within the page.
            browser.driver.get('about:blank')
            browser.open(server, view='week')
            mark = browser.wait(lambda d: d.execute_script(
                "const m = performance.getEntriesByName('week-drawn'); return m.length ? m[0].startTime : 0;"),
                'the week drawn')
            items.append(browser.driver.execute_script(
                "return performance.getEntriesByName('week-items')[0].startTime;"))
            drawn = len(browser.driver.find_elements(page.By.CSS_SELECTOR, '#week .fc-event'))
            if not drawn:
                raise RuntimeError('the week was drawn without its actions')
            figures.append(mark)
    finally:
        browser.quit()
        server.stop()
        shutil.rmtree(folder, ignore_errors=True)
    median = statistics.median(figures)
    print('plan page first load, %d actions in the week: week drawn after %.0f ms (median of %d loads: %s; '
          'goal under %d ms); the items had arrived after %.0f ms' % (
              ACTIONS, median, LOADS, ', '.join('%.0f' % f for f in figures), GOAL_MS, statistics.median(items)))


if __name__ == '__main__':
    main()
